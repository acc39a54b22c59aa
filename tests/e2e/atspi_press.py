"""Does what a screen reader does on the desktop's accessibility bus: finds
the application by name, the shown control with the given role and name, and
invokes its action. Exit status 0 once invoked, 1 when it never appears, 77
when pyatspi is missing.

Usage: atspi_press.py APP ROLE NAME ACTION [TIMEOUT_SECONDS]
ROLE is an AT-SPI role name such as "push button".
"""
import sys
import time

try:
    import pyatspi
except ImportError:
    print("pyatspi is not installed", file=sys.stderr)
    sys.exit(77)


def find_control(app_name, role, name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is None or app.name.lower() != app_name.lower():
            continue
        found = pyatspi.findDescendant(
            app,
            lambda node: node is not None
            and node.getRoleName() == role
            and node.name == name
            and node.getState().contains(pyatspi.STATE_SHOWING),
        )
        if found is not None:
            return found
    return None


def main():
    app_name, role, name, action = sys.argv[1:5]
    deadline = time.monotonic() + (float(sys.argv[5]) if len(sys.argv) > 5 else 30)
    while time.monotonic() < deadline:
        try:
            control = find_control(app_name, role, name)
            if control is not None:
                actions = control.queryAction()
                for i in range(actions.nActions):
                    if actions.getName(i).lower() == action.lower():
                        actions.doAction(i)
                        print("invoked %s on %s %r" % (action, role, name))
                        return 0
                print("no action %s among %s" % (action, [actions.getName(i) for i in range(actions.nActions)]),
                      file=sys.stderr)
                return 1
        except Exception as error:  # the tree changes under a live application
            print("retrying after: %s" % error, file=sys.stderr)
        time.sleep(0.3)
    print("no shown %s named %r in %s" % (role, name, app_name), file=sys.stderr)
    return 1


sys.exit(main())
