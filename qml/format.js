.pragma library
// Display texts for traffic counters, speeds and session times.
// Units of 1024; numbers go through toFixed so the text is the same in every
// locale (decimal point, no grouping). The decimals are picked from the value
// before rounding, so 9.999 KB reads "10.00 KB".

function bytes(n) {
    var value = (typeof n === "number" && isFinite(n) && n > 0) ? n : 0;
    var units = ["B", "KB", "MB", "GB", "TB"];
    var unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value /= 1024;
        ++unit;
    }
    var decimals = unit === 0 ? 0 : (value < 10 ? 2 : (value < 100 ? 1 : 0));
    return value.toFixed(decimals) + " " + units[unit];
}

function speed(bps) {
    // Below one byte per second there is nothing worth a unit: show "0 KB/s".
    // Non-finite input is bad data, not a speed.
    if (!(typeof bps === "number" && isFinite(bps) && bps >= 1))
        return "0 KB/s";
    var value = bps;
    var units = ["B/s", "KB/s", "MB/s", "GB/s"];
    var unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value /= 1024;
        ++unit;
    }
    var decimals = unit === 0 ? 0 : (value < 10 ? 1 : 0);
    return value.toFixed(decimals) + " " + units[unit];
}

function twoDigits(v) {
    return v < 10 ? "0" + v : String(v);
}

function duration(sinceIso, nowMs) {
    if (!sinceIso)
        return "00:00";
    var start = Date.parse(sinceIso);
    if (isNaN(start))
        return "00:00";
    var elapsed = Math.floor((nowMs - start) / 1000);
    // A clock behind the session start, or a missing "now", shows no negative time.
    var s = elapsed > 0 ? elapsed : 0;
    var h = Math.floor(s / 3600);
    var m = Math.floor((s % 3600) / 60);
    var sec = s % 60;
    return (h > 0 ? h + ":" : "") + twoDigits(m) + ":" + twoDigits(sec);
}
