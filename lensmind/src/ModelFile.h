#pragma once

// The parameter files ("*.tflite") and label files ("*.txt") of the lensmind recognisers.
//
// A parameter file is text:
//     lensmind-model 1
//     method <method name>
//     <key> <number>        one line per parameter, each exactly once
//     end
// Blank lines and lines starting with '#' are ignored. A file that is missing, names
// another method, lacks a parameter, repeats or adds one, or holds a number outside its
// range is refused as a whole.
//
// A label file holds one "<code> <label>" line per code, codes 0..n-1 in order.

#include <map>
#include <string>
#include <vector>

namespace lensmind {

struct ParameterRule
{
    const char *key;
    double min;
    double max;
};

using Parameters = std::map<std::string, double>;

// Limits on what the readers accept, so a hostile file cannot make them allocate freely.
constexpr long MaxModelFileBytes = 64 * 1024;
constexpr int MaxLabels = 256;

bool readParameters(const char *path, const std::string &method,
                    const std::vector<ParameterRule> &rules, Parameters &out);
bool readLabels(const char *path, std::size_t expected, std::vector<std::string> &out);

} // namespace lensmind
