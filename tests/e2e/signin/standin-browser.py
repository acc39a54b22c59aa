# A stand-in web browser for the sign-in tests: handed a URL, it fetches the
# page there, follows its refresh to the sign-in page and approves the
# sign-in with the page's button (a POST), as a person would. Each step is
# reported as a file in the folder this script is in, and it waits for the
# test's go-ahead between steps, so the test can look at the machine while
# the browser holds each piece. Runs with Debian's python alone (-I).
import html
import os
import re
import sys
import time
import traceback
import urllib.error
import urllib.request

here = os.path.dirname(os.path.abspath(__file__))


def report(name, text):
    part = os.path.join(here, name + ".part")
    with open(part, "w") as f:
        f.write(text + "\n")
    os.rename(part, os.path.join(here, name))


def wait_for(name):
    for _ in range(600):
        if os.path.exists(os.path.join(here, name)):
            return
        time.sleep(0.05)
    raise SystemExit("no go-ahead: " + name)


# Straight to the loopback, whatever proxy the environment names.
browser = urllib.request.build_opener(urllib.request.ProxyHandler({}))

try:
    handed = sys.argv[1]
    report("started", handed)
    wait_for("go-fetch")
    page = browser.open(handed, timeout=10).read().decode("utf-8")
    refresh = re.search(r'http-equiv="refresh" content="0;url=([^"]*)"', page)
    target = html.unescape(refresh.group(1))
    report("landed", target)
    wait_for("go-approve")
    browser.open(target, timeout=10).read()
    approve = urllib.request.Request(target + "/approve", data=b"", method="POST")
    report("approved", str(browser.open(approve, timeout=10).status))
except Exception:
    report("failed", traceback.format_exc())
