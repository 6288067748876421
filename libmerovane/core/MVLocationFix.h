#pragma once
// A location fix: degrees and metres.

struct MVLocationFix {
    double latitude = 0;
    double longitude = 0;
    double horizontalAccuracy = 0;
    double verticalAccuracy = 0;
};
