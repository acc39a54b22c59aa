"""Finds a control the way a screen reader does, on the desktop's
accessibility bus: the application by name, then the shown control with the
given role and name. Then either prints where each such control is on the
screen ("x y width height" a line, for a click there) or invokes an action of
the one control.
Waits for the control to show up to TIMEOUT seconds (default 10).
Exit status 0 on success, 1 when it never shows or has no such action, 77 when
pyatspi is missing.

Usage: atspi_control.py APP ROLE NAME where [TIMEOUT]
       atspi_control.py APP ROLE NAME press ACTION [TIMEOUT]
ROLE is an AT-SPI role name such as "push button".
"""
import sys
import time

try:
    import pyatspi
except ImportError:
    print("pyatspi is not installed", file=sys.stderr)
    sys.exit(77)


def shown_controls(app_name, role, name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name.lower() != app_name.lower():
            continue
        pending = list(app)
        while pending:
            node = pending.pop()
            if node is None:
                continue
            # A window that is not shown hides all it holds: not worth a look.
            if not node.getState().contains(pyatspi.STATE_SHOWING):
                continue
            if node.getRoleName() == role and node.name == name:
                yield node
            pending.extend(node)


def main():
    if len(sys.argv) < 5 or sys.argv[4] not in ("where", "press"):
        print(__doc__, file=sys.stderr)
        return 2
    app_name, role, name, mode = sys.argv[1:5]
    rest = sys.argv[5:]
    action = rest.pop(0) if mode == "press" and rest else None
    if mode == "press" and action is None:
        print(__doc__, file=sys.stderr)
        return 2
    deadline = time.monotonic() + (float(rest[0]) if rest else 10)
    seen = []
    while True:
        try:
            found = list(shown_controls(app_name, role, name))
            if found and mode == "where":
                for control in found:
                    e = control.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                    print(e.x, e.y, e.width, e.height)
                return 0
            if len(found) > 1:
                seen = [tuple(c.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)) for c in found]
            elif found:
                actions = found[0].queryAction()
                names = [actions.getName(i) for i in range(actions.nActions)]
                for i, candidate in enumerate(names):
                    if candidate.lower() == action.lower():
                        actions.doAction(i)
                        return 0
                print("no action %s among %s" % (action, names), file=sys.stderr)
                return 1
        except Exception as error:  # the tree changes under a live application
            print("retrying after: %s" % error, file=sys.stderr)
        if time.monotonic() >= deadline:
            break
        time.sleep(0.1)
    if seen:
        print("more than one shown %s named %r in %s, at %s" % (role, name, app_name, seen),
              file=sys.stderr)
    else:
        print("no shown %s named %r in %s" % (role, name, app_name), file=sys.stderr)
    return 1


sys.exit(main())
