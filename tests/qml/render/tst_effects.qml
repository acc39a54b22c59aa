import QtQuick
import QtTest
import qml

// The effect wrappers as drawn by a real GPU pipeline (run under Xvfb): the
// spoiler's sharp text never shows through its blur, and the panel shadow
// really darkens what lies below a panel.
Rectangle {
    id: scene
    width: 320
    height: 200
    color: "white"

    SpoilerText {
        id: spoiler
        x: 20
        y: 20
        text: "203.0.113.77:51820"
        color: "black"
        font.pixelSize: 24
        font.bold: true
    }

    PanelShadow {
        id: shadow
        anchors.fill: panel
        source: panel
        shadowBlur: 0.9
        shadowOpacity: 0.45
        shadowVerticalOffset: 3
    }
    Rectangle {
        id: panel
        radius: 16
        x: 60
        y: 90
        width: 200
        height: 60
        color: "white"
    }

    TestCase {
        name: "Effects"
        when: windowShown

        // Pixels in the rectangle whose red, green and blue are all below the limit.
        function darkPixels(image, area, limit) {
            var count = 0;
            for (var x = area.x; x < area.x + area.width; ++x) {
                for (var y = area.y; y < area.y + area.height; ++y) {
                    var c = image.pixel(x, y);
                    if (c.r < limit && c.g < limit && c.b < limit)
                        ++count;
                }
            }
            return count;
        }

        function spoilerArea() {
            return Qt.rect(spoiler.x, spoiler.y, Math.ceil(spoiler.width), Math.ceil(spoiler.height));
        }

        function test_spoilerHidesItsText() {
            verify(spoiler.width > 100);
            waitForRendering(scene);
            // Blurred: nothing close to the sharp black of the glyphs.
            compare(darkPixels(grabImage(scene), spoilerArea(), 0.25), 0);

            // Revealed, the same glyphs are plainly there: the check above can see text.
            spoiler.revealed = true;
            tryVerify(function() { return darkPixels(grabImage(scene), spoilerArea(), 0.25) > 50; }, 5000);

            spoiler.revealed = false;
            tryVerify(function() { return darkPixels(grabImage(scene), spoilerArea(), 0.25) === 0; }, 5000);
        }

        // Hidden, two texts of other lengths and groupings draw the very
        // same pixels: the blur shows a placeholder, not the text.
        function test_spoilerHidesLengthAndGrouping() {
            spoiler.revealed = false;
            spoiler.text = "203.0.113.77";
            tryCompare(spoiler, "reveal", 0.0);
            waitForRendering(scene);
            var area = Qt.rect(0, 0, scene.width, 80);
            var first = grabImage(scene);
            spoiler.text = "de-1.vpn.example.net";
            waitForRendering(scene);
            var second = grabImage(scene);
            // A step of one or two in a channel is the renderer's rounding
            // (the glyph atlas moves when the hidden text changes); the text's
            // shape would change pixels by far more.
            var differing = 0;
            for (var x = area.x; x < area.x + area.width; ++x) {
                for (var y = area.y; y < area.y + area.height; ++y) {
                    var a = first.pixel(x, y), b = second.pixel(x, y);
                    if (Math.max(Math.abs(a.r - b.r), Math.abs(a.g - b.g), Math.abs(a.b - b.b)) > 2 / 255)
                        ++differing;
                }
            }
            compare(differing, 0);

            // Revealed, the text is there and its own length.
            spoiler.revealed = true;
            tryVerify(function() { return darkPixels(grabImage(scene), spoilerArea(), 0.25) > 50; }, 5000);
            spoiler.revealed = false;
            spoiler.text = "203.0.113.77:51820";
            tryCompare(spoiler, "reveal", 0.0);
        }

        function test_panelCastsShadow() {
            // Read off the interface thread: drawn once it has arrived.
            const shadowImage = findChild(shadow, "shadowImage");
            verify(shadowImage, "no shadowImage in PanelShadow");
            tryCompare(shadowImage, "status", Image.Ready);
            waitForRendering(scene);
            var image = grabImage(scene);
            var centreX = panel.x + panel.width / 2;
            var below = image.pixel(centreX, panel.y + panel.height + 2);
            verify(below.r < 0.95, "no shadow below the panel: " + below);
            var inside = image.pixel(centreX, panel.y + panel.height / 2);
            verify(inside.r > 0.99, "the panel itself is covered: " + inside);
            var farAway = image.pixel(5, scene.height - 5);
            verify(farAway.r > 0.99, "the shadow spreads over the whole scene: " + farAway);
        }
    }
}
