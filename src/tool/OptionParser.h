#pragma once

// A small command-line option parser. Options are typed by their value; definition and
// look-up mistakes throw cmdline_error, parse errors are collected and reported by a false
// result. There is no usage output.

#include <locale>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace cmdline {

class cmdline_error : public std::exception
{
public:
    explicit cmdline_error(std::string msg) : msg_(std::move(msg)) {}
    const char *what() const noexcept override { return msg_.c_str(); }

private:
    std::string msg_;
};

template <class T> struct default_reader
{
    T operator()(const std::string &text) const
    {
        std::istringstream in(text);
        in.imbue(std::locale::classic()); // "0.5" whatever the process's locale
        T value;
        if (!(in >> value) || !(in >> std::ws).eof()) throw cmdline_error("bad value: " + text);
        return value;
    }
};

template <> struct default_reader<std::string>
{
    std::string operator()(const std::string &text) const { return text; }
};

class parser
{
public:
    class option_base
    {
    public:
        virtual ~option_base() = default;
        virtual bool takes_value() const = 0;
        virtual bool assign_value(const std::string &value) = 0;
        virtual bool mark_given() = 0;
        virtual bool is_given() const = 0;
        virtual bool is_satisfied() const = 0;
        virtual const std::string &long_name() const = 0;
        virtual char short_char() const = 0;
    };

    class option_without_value : public option_base
    {
    public:
        option_without_value(std::string name, char short_name)
            : name_(std::move(name)), short_(short_name)
        {
        }
        bool takes_value() const override { return false; }
        bool assign_value(const std::string &) override { return false; }
        bool mark_given() override
        {
            given_ = true;
            return true;
        }
        bool is_given() const override { return given_; }
        bool is_satisfied() const override { return true; }
        const std::string &long_name() const override { return name_; }
        char short_char() const override { return short_; }

    private:
        std::string name_;
        char short_;
        bool given_ = false;
    };

    template <class T> class option_with_value : public option_base
    {
    public:
        option_with_value(std::string name, char short_name, bool need, const T &def)
            : name_(std::move(name)), short_(short_name), need_(need), actual_(def)
        {
        }
        bool takes_value() const override { return true; }
        bool assign_value(const std::string &value) override
        {
            try {
                actual_ = convert(value);
            } catch (...) {
                return false;
            }
            given_ = true;
            return true;
        }
        bool mark_given() override { return false; }
        bool is_given() const override { return given_; }
        bool is_satisfied() const override { return !need_ || given_; }
        const std::string &long_name() const override { return name_; }
        char short_char() const override { return short_; }
        const T &current_value() const { return actual_; }

    protected:
        virtual T convert(const std::string &text) = 0;

    private:
        std::string name_;
        char short_;
        bool need_;
        bool given_ = false;
        T actual_;
    };

    template <class T, class Reader>
    class option_with_value_with_reader : public option_with_value<T>
    {
    public:
        using option_with_value<T>::option_with_value;

    protected:
        T convert(const std::string &text) override { return Reader()(text); }
    };

    parser() = default;
    parser(const parser &) = delete;
    parser &operator=(const parser &) = delete;

    // The description documents the call; with no usage output nothing reads it.
    void add_flag(const std::string &name, char short_name, const std::string & /*desc*/)
    {
        add(std::make_unique<option_without_value>(name, short_name));
    }

    template <class T>
    void add_option(const std::string &name, char short_name, const std::string & /*desc*/,
                    bool need, const T &def = T())
    {
        add(std::make_unique<option_with_value_with_reader<T, default_reader<T>>>(name, short_name,
                                                                                  need, def));
    }

    // Splits one string into tokens (blanks, double quotes, backslash escapes), echoes every
    // token on standard output, then parses them with the first token as the program name.
    bool parse_line(const std::string &text);
    // parse_line's first step: the tokens of one string; false (with the error recorded)
    // for a backslash at the end or a quote left open.
    bool split_line(const std::string &text, std::vector<std::string> &tokens);
    // parse_line's second step: each token in double quotes on a line of its own.
    static void echo_tokens(const std::vector<std::string> &tokens);
    bool parse_tokens(const std::vector<std::string> &tokens);
    bool parse_argv(int argc, const char *const argv[]);

    bool is_present(const std::string &name) const { return find(name).is_given(); }

    template <class T> const T &value_of(const std::string &name) const
    {
        const auto *option = dynamic_cast<const option_with_value<T> *>(&find(name));
        if (!option) throw cmdline_error("type mismatch flag '" + name + "'");
        return option->current_value();
    }

    const std::vector<std::string> &rest() const { return others_; }
    const std::vector<std::string> &errors() const { return errors_; }
    const std::string &program_name() const { return prog_name_; }

private:
    void add(std::unique_ptr<option_base> option);
    const option_base &find(const std::string &name) const;
    void set_option(const std::string &name);
    void set_option(const std::string &name, const std::string &value);

    std::map<std::string, std::unique_ptr<option_base>> options_;
    std::string prog_name_;
    std::vector<std::string> others_;
    std::vector<std::string> errors_;
};

} // namespace cmdline
