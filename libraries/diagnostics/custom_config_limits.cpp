#include "custom_config_limits.h"

#include <algorithm>

namespace Diagnostics::Private {

namespace {

// The character classes of rapidxml's lookup tables.
bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameChar(char c)
{
    return c != '\0' && !isWhitespace(c) && c != '/' && c != '>' && c != '?';
}

bool isAttributeNameChar(char c)
{
    return isNameChar(c) && c != '<' && c != '=' && c != '!';
}

// One pass over the text, in the parser's steps. Each step returns false where
// the parser throws: it reaches nothing beyond.
class Scan {
public:
    explicit Scan(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

    std::size_t deepest()
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            pos_ = 3;
        while (true) {
            skipWhitespace();
            if (depth_ == 0) {
                // Between top-level nodes: only markup.
                if (pos_ >= text_.size() || at() != '<')
                    return deepest_;
            } else if (at() != '<') {
                // An element's text runs to the next '<'; the end of the data inside an element is an error.
                pos_ = std::min(text_.find('<', pos_), text_.size());
                if (pos_ == text_.size())
                    return deepest_;
            }
            if (depth_ > 0 && at(1) == '/') {
                if (!closingTag())
                    return deepest_;
            } else {
                ++pos_; // '<'
                if (!node())
                    return deepest_;
            }
        }
    }

private:
    // Past the end reads as the zero the parser's buffer ends with.
    char at(std::size_t offset = 0) const
    {
        return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0';
    }
    bool follows(std::string_view word, std::size_t offset) const
    {
        return text_.substr(std::min(pos_ + offset, text_.size()), word.size()) == word;
    }
    void skipWhitespace()
    {
        while (isWhitespace(at()))
            ++pos_;
    }
    void skipName()
    {
        while (isNameChar(at()))
            ++pos_;
    }
    // Moves past the first `end` from here.
    bool skipPast(std::string_view end)
    {
        const std::size_t found = text_.find(end, pos_);
        if (found == std::string_view::npos)
            return false;
        pos_ = found + end.size();
        return true;
    }

    // "</", any name, whitespace, ">": closes the innermost element, whatever its name.
    bool closingTag()
    {
        pos_ += 2;
        skipName();
        skipWhitespace();
        if (at() != '>')
            return false;
        ++pos_;
        --depth_;
        return true;
    }

    // After '<'.
    bool node()
    {
        switch (at()) {
        case '?':
            ++pos_;
            if ((at() == 'x' || at() == 'X') && (at(1) == 'm' || at(1) == 'M') && (at(2) == 'l' || at(2) == 'L') &&
                isWhitespace(at(3))) {
                // The XML declaration: its attributes are parsed, so a quoted "?>" does not end it.
                pos_ += 4;
                skipWhitespace();
                if (!attributes() || !follows("?>", 0))
                    return false;
                pos_ += 2;
                return true;
            }
            return skipPast("?>"); // a processing instruction
        case '!':
            if (follows("--", 1)) {
                pos_ += 3;
                return skipPast("-->");
            }
            if (follows("[CDATA[", 1)) {
                pos_ += 8;
                return skipPast("]]>");
            }
            if (follows("DOCTYPE", 1) && isWhitespace(at(8))) {
                pos_ += 9;
                return doctype();
            }
            // Any other "<!" runs to the next '>'.
            ++pos_;
            return skipPast(">");
        default:
            return element();
        }
    }

    // To its '>', past bracketed parts (the internal subset), which may hold '>'.
    bool doctype()
    {
        while (at() != '>') {
            if (at() == '\0')
                return false;
            if (at() == '[') {
                ++pos_;
                for (std::size_t brackets = 1; brackets > 0; ++pos_) {
                    if (at() == '[')
                        ++brackets;
                    else if (at() == ']')
                        --brackets;
                    else if (at() == '\0')
                        return false;
                }
            } else {
                ++pos_;
            }
        }
        ++pos_;
        return true;
    }

    bool element()
    {
        const std::size_t name = pos_;
        skipName();
        if (pos_ == name)
            return false;
        skipWhitespace();
        if (!attributes())
            return false;
        // An empty element ("<a/>") is a level of the document too, with nothing inside.
        deepest_ = std::max(deepest_, depth_ + 1);
        if (at() == '/') {
            ++pos_;
            if (at() != '>')
                return false;
            ++pos_;
            return true;
        }
        if (at() != '>')
            return false;
        ++pos_;
        ++depth_;
        return true;
    }

    // name = "value" or name = 'value', any number: a value may hold '<', '>' and "?>".
    bool attributes()
    {
        while (isAttributeNameChar(at())) {
            while (isAttributeNameChar(at()))
                ++pos_;
            skipWhitespace();
            if (at() != '=')
                return false;
            ++pos_;
            skipWhitespace();
            const char quote = at();
            if (quote != '"' && quote != '\'')
                return false;
            ++pos_;
            if (!skipPast(std::string_view(&quote, 1)))
                return false;
            skipWhitespace();
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
    std::size_t deepest_ = 0;
};

} // namespace

std::size_t xmlElementDepth(std::string_view text)
{
    return Scan(text).deepest();
}

} // namespace Diagnostics::Private
