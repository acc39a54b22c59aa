# What another local user can learn of a sign-in under way. Reads the
# one-time code from standard input (never from its own command line), then
# prints one line for each process whose command line or environment shows
# any eight characters of it ("seen PID FILE"), and, for each address of the
# loopback hand-off found on a command line, the status it answers this user
# ("asked URL STATUS"; not with --look-only). Prints "done" last.
import os
import re
import sys
import urllib.error
import urllib.request

code = sys.stdin.read().strip().encode()
pieces = {code[i:i + 8] for i in range(max(1, len(code) - 7))} if code else set()
handoffs = set()
for pid in os.listdir("/proc"):
    if not pid.isdigit() or int(pid) == os.getpid():
        continue
    for name in ("cmdline", "environ"):
        try:
            with open("/proc/%s/%s" % (pid, name), "rb") as f:
                data = f.read()
        except OSError:
            continue
        if any(piece in data for piece in pieces):
            print("seen", pid, name)
        if name == "cmdline":
            for m in re.finditer(rb"http://127\.0\.0\.1:\d+/[A-Za-z0-9_-]{22}(?![A-Za-z0-9_-])", data):
                handoffs.add(m.group(0).decode())

if "--look-only" in sys.argv:
    handoffs = set()
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
for url in sorted(handoffs):
    try:
        status = opener.open(url, timeout=5).status
    except urllib.error.HTTPError as e:
        status = e.code
    except Exception as e:
        status = "error:" + type(e).__name__
    print("asked", url, status)
print("done")
