#pragma once

#include <string>
#include <string_view>

namespace System {

// A file system path kept in normal form: a trailing separator is dropped unless
// the path is a root ("\", "C:\", "\\?\C:\"). Backslash and slash both separate.
class Path {
public:
    Path() = default;
    explicit Path(std::wstring text);

    const std::wstring& str() const noexcept { return text_; }
    bool empty() const noexcept { return text_.empty(); }
    bool isRoot() const noexcept;
    // Resource paths (":/", "qrc:/") and absolute paths are not relative.
    bool isRelative() const noexcept;
    bool isResource() const noexcept;

    // Everything before the last separator; a root is its own parent, and the
    // parent of "C:\Games" is the root "C:\".
    Path parent() const;

    // The two parts with exactly one separator between them.
    Path operator/(std::wstring_view part) const;

    // The text with the drive letter in upper case, also behind "\\?\".
    std::wstring toString() const;

    friend bool operator==(const Path&, const Path&) = default;

private:
    std::wstring text_;
};

} // namespace System
