#include "ModelFile.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <locale>
#include <sstream>

namespace lensmind {

namespace {
bool readSmallFile(const char *path, std::string &text)
{
    if (!path || !*path) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > MaxModelFileBytes) return false;
    in.seekg(0);
    text.assign(std::size_t(size), '\0');
    return bool(in.read(&text[0], size));
}

// The whole text as a number, written as in the C locale whatever the process's locale is:
// a host that runs in a locale with decimal commas still reads "0.15" as 0.15.
bool parseNumber(const std::string &text, double &number)
{
    const char *first = text.data();
    const char *last = first + text.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    const auto result = std::from_chars(first, last, number);
    return result.ec == std::errc() && result.ptr == last;
}

bool skippable(const std::string &line)
{
    const auto first = line.find_first_not_of(" \t\r");
    return first == std::string::npos || line[first] == '#';
}
} // namespace

bool readParameters(const char *path, const std::string &method,
                    const std::vector<ParameterRule> &rules, Parameters &out)
{
    std::string text;
    if (!readSmallFile(path, text)) return false;
    std::istringstream lines(text);
    std::string line;
    enum { Header, Method, Body, Done } state = Header;
    Parameters values;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (skippable(line)) continue;
        std::istringstream words(line);
        std::string key, value, extra;
        words >> key >> value;
        if (words >> extra) return false;
        switch (state) {
        case Header:
            if (key != "lensmind-model" || value != "1") return false;
            state = Method;
            break;
        case Method:
            if (key != "method" || value != method) return false;
            state = Body;
            break;
        case Body: {
            if (key == "end" && value.empty()) {
                state = Done;
                break;
            }
            const ParameterRule *rule = nullptr;
            for (const ParameterRule &s : rules)
                if (key == s.key) rule = &s;
            if (!rule || values.count(key)) return false;
            double number = 0;
            if (!parseNumber(value, number) || !std::isfinite(number) || number < rule->min ||
                number > rule->max)
                return false;
            values[key] = number;
            break;
        }
        case Done:
            return false; // nothing may follow "end"
        }
    }
    if (state != Done || values.size() != rules.size()) return false;
    out = std::move(values);
    return true;
}

bool readLabels(const char *path, std::size_t expected, std::vector<std::string> &out)
{
    std::string text;
    if (!readSmallFile(path, text) || expected > std::size_t(MaxLabels)) return false;
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> labels;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (skippable(line)) continue;
        std::istringstream words(line);
        words.imbue(std::locale::classic());
        std::size_t code = 0;
        std::string label;
        if (!(words >> code) || code != labels.size() || !std::getline(words >> std::ws, label) ||
            label.empty())
            return false;
        labels.push_back(label);
        if (labels.size() > expected) return false;
    }
    if (labels.size() != expected) return false;
    out = std::move(labels);
    return true;
}

} // namespace lensmind
