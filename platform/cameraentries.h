#ifndef ORVELLA_CAMERAENTRIES_H
#define ORVELLA_CAMERAENTRIES_H

#include <string>
#include <vector>

// One "Name=description" entry as the user wrote it.
struct CameraEntry {
    std::string name;
    std::string description;
};

// An entry that could not be used, with its 1-based number in the text.
struct BadCameraEntry {
    int number = 0;
    std::string text;
    std::string problem;
};

struct CameraEntries {
    std::vector<CameraEntry> entries;
    std::vector<BadCameraEntry> bad;
};

// Splits text into entries at separator ('\n' for the cameras file, ';' for
// the environment variable). Blank entries and entries whose first visible
// character is '#' are skipped silently; the name ends at the first '='.
// Names and descriptions are trimmed. Pure: no input, output or state.
CameraEntries parseCameraEntries(const std::string &text, char separator);

#endif
