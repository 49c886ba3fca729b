#include "cameraentries.h"

namespace
{

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

CameraEntries parseCameraEntries(const std::string &text, char separator)
{
    CameraEntries result;
    std::size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (entry.empty() || entry[0] == '#')
            continue;

        const std::size_t equals = entry.find('=');
        CameraEntry camera;
        if (equals != std::string::npos) {
            camera.name = trimmed(entry.substr(0, equals));
            camera.description = trimmed(entry.substr(equals + 1));
        }
        const char *problem = nullptr;
        if (equals == std::string::npos)
            problem = "expected Name=description";
        else if (camera.name.empty())
            problem = "the name before '=' is empty";
        else if (camera.description.empty())
            problem = "the description after '=' is empty";
        if (problem)
            result.bad.push_back({number, entry, problem});
        else
            result.entries.push_back(std::move(camera));
    }
    return result;
}
