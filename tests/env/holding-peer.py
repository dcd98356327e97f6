# holding-peer.py PORT|SOCKET_PATH: accepts every connection, reads 4 KiB
# every 100 ms and never answers; on port 8632 it trickles an endless HTTP
# header, one octet a round. Prints "ready", then "accepted" per connection.
import itertools, socket, sys, time

a = sys.argv[1]
s = socket.socket(socket.AF_INET if a.isdigit() else socket.AF_UNIX)
s.bind(('127.0.0.1', int(a)) if a.isdigit() else a)
s.listen(16)
s.setblocking(0)
print('ready', flush=True)
held = []
text = itertools.chain(b'HTTP/1.1 200 OK\r\n', itertools.cycle(b'X-Hold: 1\r\n'))
while time.sleep(0.1) is None:
    try:
        held.append(s.accept()[0])
        held[-1].setblocking(0)
        print('accepted', flush=True)
    except OSError:
        pass
    for c in held:
        try:
            a == '8632' and c.send(bytes([next(text)]))
            c.recv(4096)
        except OSError:
            pass
