#include "OptionParser.h"

#include <cstdio>

namespace cmdline {

void parser::add(std::unique_ptr<option_base> option)
{
    const std::string name = option->long_name();
    if (options_.count(name)) throw cmdline_error("multiple definition: " + name);
    options_.emplace(name, std::move(option));
}

const parser::option_base &parser::find(const std::string &name) const
{
    const auto it = options_.find(name);
    if (it == options_.end()) throw cmdline_error("there is no flag: --" + name);
    return *it->second;
}

bool parser::parse_line(const std::string &text)
{
    std::vector<std::string> tokens;
    if (!split_line(text, tokens)) return false;
    echo_tokens(tokens);
    return parse_tokens(tokens);
}

bool parser::split_line(const std::string &text, std::vector<std::string> &tokens)
{
    tokens.clear();
    std::string token;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            tokens.push_back(token);
            token.clear();
        } else if (c == '\\') {
            if (++i == text.size()) {
                errors_.push_back("unexpected occurrence of '\\' at end of string");
                return false;
            }
            token += text[i];
        } else {
            token += c;
        }
    }
    if (quoted) {
        errors_.push_back("quote is not closed");
        return false;
    }
    if (!token.empty()) tokens.push_back(token);
    return true;
}

void parser::echo_tokens(const std::vector<std::string> &tokens)
{
    for (const std::string &t : tokens)
        std::printf("\"%s\"\n", t.c_str());
    std::fflush(stdout);
}

bool parser::parse_tokens(const std::vector<std::string> &tokens)
{
    std::vector<const char *> argv;
    argv.reserve(tokens.size());
    for (const std::string &t : tokens)
        argv.push_back(t.c_str());
    return parse_argv(static_cast<int>(argv.size()), argv.data());
}

bool parser::parse_argv(int argc, const char *const argv[])
{
    errors_.clear();
    others_.clear();

    if (argc < 1) {
        errors_.push_back("argument number must be longer than 0");
        return false;
    }
    if (prog_name_.empty()) prog_name_ = argv[0];

    // Short character -> long name; an empty name marks a character two options share.
    std::map<char, std::string> lookup;
    for (const auto &entry : options_) {
        const option_base &option = *entry.second;
        if (option.long_name().empty() || option.short_char() == 0) continue;
        const char c = option.short_char();
        if (lookup.count(c)) {
            lookup[c].clear();
            errors_.push_back(std::string("short option '") + c + "' is ambiguous");
            return false;
        }
        lookup[c] = option.long_name();
    }

    // Resolves one short character, recording why when it cannot be used.
    auto resolve = [&](char c, std::string &name) {
        const auto it = lookup.find(c);
        if (it == lookup.end()) {
            errors_.push_back(std::string("undefined short option: -") + c);
            return false;
        }
        if (it->second.empty()) {
            errors_.push_back(std::string("ambiguous short option: -") + c);
            return false;
        }
        name = it->second;
        return true;
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.compare(0, 2, "--") == 0) {
            const std::size_t eq = arg.find('=', 2);
            if (eq != std::string::npos) {
                set_option(arg.substr(2, eq - 2), arg.substr(eq + 1));
                continue;
            }
            const std::string name = arg.substr(2);
            const auto it = options_.find(name);
            if (it == options_.end()) {
                errors_.push_back("undefined option: --" + name);
            } else if (it->second->takes_value()) {
                if (i + 1 < argc)
                    set_option(name, argv[++i]);
                else
                    errors_.push_back("option needs value: --" + name);
            } else {
                set_option(name);
            }
        } else if (arg.compare(0, 1, "-") == 0) {
            if (arg.size() == 1) continue;
            std::string name;
            for (std::size_t j = 1; j + 1 < arg.size(); ++j) {
                if (resolve(arg[j], name)) set_option(name);
            }
            if (!resolve(arg.back(), name)) continue;
            if (i + 1 < argc && options_.at(name)->takes_value())
                set_option(name, argv[++i]);
            else
                set_option(name);
        } else {
            others_.push_back(arg);
        }
    }

    for (const auto &entry : options_) {
        if (!entry.second->is_satisfied()) errors_.push_back("need option: --" + entry.first);
    }
    return errors_.empty();
}

void parser::set_option(const std::string &name)
{
    const auto it = options_.find(name);
    if (it == options_.end()) {
        errors_.push_back("undefined option: --" + name);
        return;
    }
    if (!it->second->mark_given()) errors_.push_back("option needs value: --" + name);
}

void parser::set_option(const std::string &name, const std::string &value)
{
    const auto it = options_.find(name);
    if (it == options_.end()) {
        errors_.push_back("undefined option: --" + name);
        return;
    }
    if (!it->second->assign_value(value))
        errors_.push_back("option value is invalid: --" + name + "=" + value);
}

} // namespace cmdline
