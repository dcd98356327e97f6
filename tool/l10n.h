// The localised name of the supply (gettext domain "usbink").
#pragma once

// Selects the user's locale and returns the UTF-8 description of the black
// cartridge; "Black Print Cartridge" where no translation exists.
const char* LocalizedDescription();
