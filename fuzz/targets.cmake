# The fuzz targets, one source fuzz/<name>.cpp each. fuzz/ links them with
# libFuzzer (USBINK_FUZZ); tests/robust/ links the same sources with a replay
# main, so the corpus and the regression inputs run in every test run.
set(USBINK_FUZZ_TARGETS
  device_id
  snmpv1_response
  snmpv3_response
  snmpv3_sealed)
