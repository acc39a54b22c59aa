import QtQuick
import QtTest
import qml

// The shared controls as their owners see them: colours from the palette,
// clicks reported by signals, no state of their own beyond feedback.
Item {
    id: scene
    width: 400
    height: 300

    Component {
        id: primaryComponent
        PrimaryButton { width: 160; height: 44; text: "Connect" }
    }
    Component {
        id: toggleComponent
        ToggleSwitch {}
    }
    Component {
        id: spoilerComponent
        SpoilerText { font.pixelSize: 16; color: "black" }
    }
    Component {
        id: textComponent
        Text { font.pixelSize: 16; textFormat: Text.PlainText }
    }
    Component {
        id: iconComponent
        IconButton { symbol: "✕"; hoverColor: "#ff0000" }
    }
    Component {
        id: spyComponent
        SignalSpy {}
    }

    function childText(item) {
        for (var i = 0; i < item.children.length; ++i) {
            if (item.children[i] instanceof Text)
                return item.children[i];
        }
        return null;
    }

    TestCase {
        name: "Controls"
        when: windowShown

        function spyOn(target, signalName) {
            return createTemporaryObject(spyComponent, scene, { target: target, signalName: signalName });
        }

        function test_primaryFeedback_data() {
            return [
                { tag: "enabled", enabled: true },
                { tag: "disabled", enabled: false },
            ];
        }
        function test_primaryFeedback(data) {
            var button = createTemporaryObject(primaryComponent, scene, { enabled: data.enabled });
            verify(button);
            var base = appSettings.accent;
            var clicks = spyOn(button, "clicked");
            compare(button.opacity, data.enabled ? 1.0 : 0.5);

            mouseMove(button, button.width / 2, button.height / 2);
            if (data.enabled)
                tryCompare(button, "color", Qt.lighter(base, 1.1));

            mousePress(button, button.width / 2, button.height / 2);
            if (data.enabled) {
                tryCompare(button, "color", Qt.darker(base, 1.2));
                tryCompare(button, "scale", 0.97);
            } else {
                // Nothing to wait for: give a wrongly started animation time to show.
                wait(200);
                compare(button.color, base);
                compare(button.scale, 1.0);
            }
            mouseRelease(button, button.width / 2, button.height / 2);
            compare(clicks.count, data.enabled ? 1 : 0);
            mouseMove(scene, scene.width - 1, scene.height - 1);
            tryCompare(button, "color", base);
        }

        function test_primaryImplicitSize() {
            var button = createTemporaryObject(primaryComponent, scene);
            var label = scene.childText(button);
            compare(button.implicitWidth, label.implicitWidth + 48);
            compare(button.implicitHeight, 44);
            button.height = 28;
            compare(button.radius, 14);
        }

        function test_primaryLabelElides_data() {
            return [
                { tag: "fits", text: "Quit", width: 160, truncated: false },
                { tag: "too long", text: "Disconnect from the server and sign out now", width: 120, truncated: true },
            ];
        }
        function test_primaryLabelElides(data) {
            var button = createTemporaryObject(primaryComponent, scene, { text: data.text, width: data.width });
            var label = scene.childText(button);
            compare(label.truncated, data.truncated);
            compare(label.width, Math.min(label.implicitWidth, data.width - 32));
            verify(label.x >= 16 - 0.5 && label.x + label.width <= data.width - 16 + 0.5);
        }

        function test_toggleFollowsOwnerOnly_data() {
            return [
                { tag: "off", checked: false, knobX: 3 },
                { tag: "on", checked: true, knobX: 23 },
            ];
        }
        function test_toggleFollowsOwnerOnly(data) {
            var toggle = createTemporaryObject(toggleComponent, scene, { checked: data.checked });
            var knob = toggle.children[0];
            compare(toggle.width, 46);
            compare(toggle.height, 26);
            compare(knob.x, data.knobX);
            compare(toggle.border.color, data.checked ? appSettings.accent : appSettings.border);
            var toggled = spyOn(toggle, "toggled");

            // An owner that ignores the request: the switch stays put.
            mouseClick(toggle);
            compare(toggled.count, 1);
            compare(toggled.signalArguments[0][0], !data.checked);
            compare(toggle.checked, data.checked);
            wait(200);
            compare(knob.x, data.knobX);

            // The owner accepts: the knob follows the model's value.
            toggle.checked = toggled.signalArguments[0][0];
            tryCompare(knob, "x", data.checked ? 3 : 23);
            tryCompare(toggle, "color", data.checked ? appSettings.surfaceAlt : appSettings.accent);
        }

        function test_spoilerEmptyHasNoSize() {
            var spoiler = createTemporaryObject(spoilerComponent, scene);
            compare(spoiler.text, "");
            compare(spoiler.implicitWidth, 0);
            compare(spoiler.implicitHeight, 0);
            compare(spoiler.width, 0);
            compare(spoiler.height, 0);
        }

        // The daemon's text is shown as written: markup in it is not obeyed.
        function test_spoilerShowsMarkupAsText() {
            var plain = createTemporaryObject(spoilerComponent, scene,
                                              { text: "host", revealed: true });
            var marked = createTemporaryObject(spoilerComponent, scene,
                                               { text: "<b></b><i></i>host", revealed: true });
            verify(marked.implicitWidth > plain.implicitWidth + 20,
                   "markup was rendered instead of shown: " + marked.implicitWidth);
        }

        // Hidden, the size says nothing of the text; revealed, it is the text's.
        function test_spoilerHiddenSizeIsTheTexts_data() {
            return [
                { tag: "IPv4", text: "203.0.113.7" },
                { tag: "long name", text: "a-very-long-server-name.de.vpn.example.net" },
                { tag: "one letter", text: "x" },
            ];
        }
        function test_spoilerHiddenSizeIsTheTexts(data) {
            var reference = createTemporaryObject(spoilerComponent, scene, { text: "2001:db8::7" });
            var spoiler = createTemporaryObject(spoilerComponent, scene, { text: data.text });
            compare(spoiler.implicitWidth, reference.implicitWidth);
            compare(spoiler.implicitHeight, reference.implicitHeight);
            verify(spoiler.implicitWidth > 0);

            spoiler.revealed = true;
            var sharp = createTemporaryObject(textComponent, scene, { text: data.text });
            compare(spoiler.implicitWidth, sharp.implicitWidth);
        }

        // Without shader effects (the software renderer, as here) the blur
        // draws nothing: the revealed text must still be drawn, and the
        // hidden one must not be.
        function inkPixels(item) {
            var image = grabImage(item);
            var ink = 0;
            for (var x = 0; x < image.width; ++x) {
                for (var y = 0; y < image.height; ++y) {
                    var c = image.pixel(x, y);
                    if (c.a > 0.5 && c.r < 0.3)
                        ++ink;
                }
            }
            return ink;
        }
        function test_spoilerRevealDrawsTextWithoutShaders() {
            if (scene.GraphicsInfo.api !== GraphicsInfo.Software)
                skip("shader effects are drawn here; tst_effects checks the blur");
            var hidden = createTemporaryObject(spoilerComponent, scene, { text: "203.0.113.7" });
            var revealed = createTemporaryObject(spoilerComponent, scene,
                                                 { text: "203.0.113.7", revealed: true, y: 100 });
            waitForRendering(revealed);
            compare(inkPixels(hidden), 0, "the hidden text was drawn");
            verify(inkPixels(revealed) > 20, "the revealed text was not drawn");
        }

        function test_spoilerClickFlips() {
            var spoiler = createTemporaryObject(spoilerComponent, scene, { text: "203.0.113.7:51820" });
            verify(spoiler.width > 0 && spoiler.height > 0);
            compare(spoiler.revealed, false);
            mouseClick(spoiler);
            compare(spoiler.revealed, true);
            mouseClick(spoiler);
            compare(spoiler.revealed, false);
        }

        // Both themes restyle the controls at once: their defaults are bindings
        // to the palette, not copies of it.
        function test_controlsFollowTheTheme() {
            var primary = createTemporaryObject(primaryComponent, scene);
            var toggle = createTemporaryObject(toggleComponent, scene, { checked: true });
            var icon = createTemporaryObject(iconComponent, scene);
            var darkAccent = String(appSettings.accent); // a copy, not a live reference
            appSettings.darkTheme = false;
            try {
                verify(!Qt.colorEqual(appSettings.accent, darkAccent));
                compare(primary.baseColor, appSettings.accent);
                compare(primary.textColor, appSettings.accentText);
                tryCompare(primary, "color", appSettings.accent);
                tryCompare(toggle, "color", appSettings.accent);
                compare(toggle.border.color, appSettings.accent);
                compare(icon.glyphColor, appSettings.fgMuted);
            } finally {
                appSettings.darkTheme = true;
            }
        }

        function test_iconButtonHoverAndClick() {
            var button = createTemporaryObject(iconComponent, scene);
            compare(button.width, 40);
            compare(button.height, 30);
            compare(button.color, Qt.color("transparent"));
            var clicks = spyOn(button, "clicked");
            mouseMove(button, 10, 10);
            compare(button.color, Qt.color("#ff0000"));
            mouseClick(button);
            compare(clicks.count, 1);
            mouseMove(scene, scene.width - 1, scene.height - 1);
            compare(button.color, Qt.color("transparent"));
        }
    }
}
