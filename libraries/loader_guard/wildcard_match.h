#pragma once

#include <optional>
#include <string_view>

// Matches `text` against the zero-terminated `pattern` ("*": any run of
// characters, the empty one included; "?": one character), comparing
// characters after `upcase`, which returns nothing when it cannot convert (the
// match then fails). A "*" followed by more pattern needs at least one more
// text character.
template <typename Char, typename Upcase>
bool wildcardMatch(const Char* pattern, std::basic_string_view<Char> text, Upcase upcase)
{
    for (;; ++pattern, text.remove_prefix(1)) {
        const Char p = *pattern;
        if (p == 0)
            return text.empty();
        if (p == Char('*')) {
            const Char* rest = pattern + 1;
            if (*rest == 0)
                return true;
            for (; !text.empty(); text.remove_prefix(1))
                if (wildcardMatch(rest, text, upcase))
                    return true;
            return false;
        }
        if (text.empty())
            return false;
        if (p == Char('?'))
            continue;
        const std::optional<Char> left = upcase(p);
        const std::optional<Char> right = upcase(text.front());
        if (!left || !right || *left != *right)
            return false;
    }
}
