#pragma once

// What the "language_data" test plug-in hands the host's language operations,
// and what the launcher must receive for it. The host bounds neither count
// below int32, so this is as much as a real plug-in could send at once: many
// languages of many strings, far past one RPC buffer, with null and empty
// strings at every level and languages whose inner array is empty (null).
#include "hlx_plugins.h"

#include <cwchar>
#include <deque>
#include <string>
#include <vector>

namespace LanguageData {

inline constexpr int kLanguages = 64;
inline constexpr int kItems = 512; // substitutes, or dictionary entries, of a full language

// Every third language has no items; the plug-in passes a null array for it.
inline int itemCount(int language)
{
    return language % 3 == 2 ? 0 : kItems;
}

// Null, empty or numbered in a pattern that shifts with the language.
inline const wchar_t* text(std::deque<std::wstring>& storage, int language, int item)
{
    switch ((language * 7 + item) % 13) {
    case 0: return nullptr;
    case 1: return storage.emplace_back().c_str();
    default: return storage.emplace_back(L"t" + std::to_wstring(language) + L"." + std::to_wstring(item)).c_str();
    }
}

inline const wchar_t* languageName(std::deque<std::wstring>& storage, int language)
{
    return language % 5 == 4 ? nullptr : storage.emplace_back(L"lang" + std::to_wstring(language)).c_str();
}

// The plug-in's structures, valid as long as this object.
class Texts {
public:
    Texts()
    {
        substitutes_.resize(kLanguages);
        entries_.resize(kLanguages);
        for (int l = 0; l < kLanguages; ++l) {
            for (int i = 0; i < itemCount(l); ++i) {
                substitutes_[l].push_back(text(strings_, l, i));
                entries_[l].push_back({text(strings_, l, 3 * i), text(strings_, l, 3 * i + 1), text(strings_, l, 3 * i + 2)});
            }
            const wchar_t* name = languageName(strings_, l);
            substitutions.push_back({name, itemCount(l), itemCount(l) > 0 ? substitutes_[l].data() : nullptr});
            dictionaries.push_back({name, itemCount(l), itemCount(l) > 0 ? entries_[l].data() : nullptr});
        }
    }
    Texts(const Texts&) = delete;
    Texts& operator=(const Texts&) = delete;

    std::vector<HLXPlugins::LanguageSubstitution> substitutions;
    std::vector<HLXPlugins::LanguageDictionary> dictionaries;

private:
    std::deque<std::wstring> strings_; // a deque keeps the addresses handed out
    std::vector<std::vector<const wchar_t*>> substitutes_;
    std::vector<std::vector<HLXPlugins::DictionaryEntry>> entries_;
};

// The launcher simulator's transcript of one string: quoted, or (null).
inline std::string transcribed(const wchar_t* value)
{
    return value == nullptr ? "(null)" : "\"" + std::string(value, value + std::wcslen(value)) + "\"";
}

// The simulator's lines for setLanguageSubstitutions(null default language, Texts)
// and setMultiLanguageDictionary(Texts) from the plug-in with this id.
inline std::string substitutionsLine(unsigned pluginId)
{
    const Texts texts;
    std::string line = "IPluginSystem::setLanguageSubstitutions(" + std::to_string(pluginId) + ", (null), " +
                       std::to_string(kLanguages) + ", [";
    for (int l = 0; l < kLanguages; ++l) {
        const HLXPlugins::LanguageSubstitution& s = texts.substitutions[l];
        line += (l > 0 ? ", " : "") + transcribed(s.language) + ":";
        if (s.count == 0) {
            line += "(null)";
            continue;
        }
        for (int i = 0; i < s.count; ++i)
            line += (i > 0 ? ", " : "[") + transcribed(s.substitutes[i]);
        line += "]";
    }
    return line + "]) -> S_OK";
}

inline std::string dictionaryLine(unsigned pluginId)
{
    const Texts texts;
    std::string line = "IPluginSystem::setMultiLanguageDictionary(" + std::to_string(pluginId) + ", " +
                       std::to_string(kLanguages) + ", [";
    for (int l = 0; l < kLanguages; ++l) {
        const HLXPlugins::LanguageDictionary& d = texts.dictionaries[l];
        line += (l > 0 ? ", " : "") + transcribed(d.language) + ":";
        if (d.count == 0) {
            line += "(null)";
            continue;
        }
        for (int i = 0; i < d.count; ++i)
            line += (i > 0 ? ", " : "[") + transcribed(d.entries[i].string1) + "/" + transcribed(d.entries[i].string2) +
                    "/" + transcribed(d.entries[i].string3);
        line += "]";
    }
    return line + "]) -> S_OK";
}

} // namespace LanguageData
