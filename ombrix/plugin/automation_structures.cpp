#include "automation_structures.h"

#include <cstring>
#include <limits>
#include <new>

namespace Automation {

namespace {

template <typename T>
void freeArray(T*& items, ULONG& count) noexcept
{
    for (ULONG i = 0; items != nullptr && i < count; ++i)
        release(items[i]);
    ::CoTaskMemFree(std::exchange(items, nullptr));
    count = 0;
}

// Gives a converted array to the structure that will own it from now on.
template <typename T>
void adopt(OwnedArray<T>&& array, T*& items, ULONG& count) noexcept
{
    count = array.size();
    items = array.detach();
}

} // namespace

void release(BSTR& value) noexcept
{
    ::SysFreeString(std::exchange(value, nullptr));
}

void release(ButtonAutomation& value) noexcept
{
    release(value.text);
    release(value.hint);
}

void release(MessageArgAutomation& value) noexcept
{
    release(value.text);
}

void release(DialogAutomation& value) noexcept
{
    release(value.caption);
    release(value.message);
    release(value.typeText);
    freeArray(value.messageArgs, value.messageArgCount);
    freeArray(value.buttons, value.buttonCount);
}

void release(LanguageSubstitutionAutomation& value) noexcept
{
    release(value.language);
    freeArray(value.substitutes, value.count);
}

void release(LanguageDictionaryEntryAutomation& value) noexcept
{
    release(value.string1);
    release(value.string2);
    release(value.string3);
}

void release(LanguageDictionaryAutomation& value) noexcept
{
    release(value.language);
    freeArray(value.entries, value.count);
}

void* allocateZeroed(std::size_t count, std::size_t elementSize)
{
    if (count == 0)
        return nullptr;
    if (count > std::numeric_limits<ULONG>::max() / elementSize)
        throw std::bad_alloc();
    void* items = ::CoTaskMemAlloc(count * elementSize);
    if (items == nullptr)
        throw std::bad_alloc();
    std::memset(items, 0, count * elementSize);
    return items;
}

System::Win32::UniqueBstr copy(const wchar_t* text) noexcept
{
    return System::Win32::UniqueBstr(text == nullptr ? nullptr : ::SysAllocString(text));
}

System::Win32::UniqueBstr require(const wchar_t* text)
{
    System::Win32::UniqueBstr result = copy(text);
    if (text != nullptr && !result)
        throw std::bad_alloc();
    return result;
}

const wchar_t* failureText(DialogFailure failure) noexcept
{
    switch (failure) {
    case DialogFailure::ButtonHint: return L"error: failed to alloc button's hint string";
    case DialogFailure::ButtonText: return L"error: failed to alloc button's text string";
    case DialogFailure::MessageArgText: return L"error: failed to alloc message arg's text string";
    case DialogFailure::None: break;
    }
    return L"";
}

ConvertedDialog convertDialog(const HLXPlugins::DialogInfo& info)
{
    ConvertedDialog result;
    DialogAutomation& dialog = result.dialog.get();
    dialog.caption = require(info.caption).release();
    dialog.message = require(info.message).release();
    if (info.type == 100)
        dialog.typeText = require(info.typeText).release();

    OwnedArray<ButtonAutomation> buttons(info.buttons == nullptr ? 0 : info.buttonCount);
    for (std::uint32_t i = 0; i < buttons.size(); ++i) {
        buttons[i].id = info.buttons[i].id;
        if (!(buttons[i].hint = copy(info.buttons[i].hint).release())) {
            result.failure = DialogFailure::ButtonHint;
            return result;
        }
        if (!(buttons[i].text = copy(info.buttons[i].text).release())) {
            result.failure = DialogFailure::ButtonText;
            return result;
        }
    }
    OwnedArray<MessageArgAutomation> args(info.messageArgs == nullptr ? 0 : info.messageArgCount);
    for (std::uint32_t i = 0; i < args.size(); ++i) {
        args[i].value = info.messageArgs[i].value;
        if (!(args[i].text = copy(info.messageArgs[i].text).release())) {
            result.failure = DialogFailure::MessageArgText;
            return result;
        }
    }
    adopt(std::move(args), dialog.messageArgs, dialog.messageArgCount);
    adopt(std::move(buttons), dialog.buttons, dialog.buttonCount);
    dialog.defaultButtonId = info.defaultButtonId;
    dialog.style = info.style;
    dialog.type = info.type;
    dialog.flagA = info.flagA ? 1 : 0;
    dialog.flagB = info.flagB ? 1 : 0;
    return result;
}

OwnedArray<LanguageSubstitutionAutomation> convertSubstitutions(const HLXPlugins::LanguageSubstitution* items,
                                                                std::uint32_t count)
{
    OwnedArray<LanguageSubstitutionAutomation> result(items == nullptr ? 0 : count);
    for (std::uint32_t i = 0; i < result.size(); ++i) {
        const HLXPlugins::LanguageSubstitution& item = items[i];
        result[i].language = copy(item.language).release();
        const auto substitutes = static_cast<std::uint32_t>(item.substitutes == nullptr || item.count < 0 ? 0 : item.count);
        OwnedArray<BSTR> strings(substitutes);
        for (std::uint32_t j = 0; j < substitutes; ++j)
            strings[j] = copy(item.substitutes[j]).release();
        adopt(std::move(strings), result[i].substitutes, result[i].count);
    }
    return result;
}

OwnedArray<LanguageDictionaryAutomation> convertDictionaries(const HLXPlugins::LanguageDictionary* items,
                                                             std::uint32_t count)
{
    OwnedArray<LanguageDictionaryAutomation> result(items == nullptr ? 0 : count);
    for (std::uint32_t i = 0; i < result.size(); ++i) {
        const HLXPlugins::LanguageDictionary& item = items[i];
        result[i].language = copy(item.language).release();
        const auto count = static_cast<std::uint32_t>(item.entries == nullptr || item.count < 0 ? 0 : item.count);
        OwnedArray<LanguageDictionaryEntryAutomation> entries(count);
        for (std::uint32_t j = 0; j < count; ++j) {
            entries[j].string1 = copy(item.entries[j].string1).release();
            entries[j].string2 = copy(item.entries[j].string2).release();
            entries[j].string3 = copy(item.entries[j].string3).release();
        }
        adopt(std::move(entries), result[i].entries, result[i].count);
    }
    return result;
}

} // namespace Automation
