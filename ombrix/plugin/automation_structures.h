#pragma once

#include "hlx_plugins.h"
#include "ombrix_interfaces.h"
#include "system/win32/unique_resource.h"

#include <cstdint>
#include <utility>

// The plug-in's structures converted into the ones the launcher's COM interface
// takes. Every string is a BSTR and every array comes from CoTaskMemAlloc; each
// converted value lives in an Owned<T>, which frees all of it, nested arrays too.
namespace Automation {

// What the fields of one structure own. A structure starts all zero and its
// counts are set only once their arrays exist, so a half-built one is released
// exactly as far as it got.
void release(ButtonAutomation& value) noexcept;
void release(MessageArgAutomation& value) noexcept;
void release(DialogAutomation& value) noexcept;
void release(LanguageSubstitutionAutomation& value) noexcept;
void release(LanguageDictionaryEntryAutomation& value) noexcept;
void release(LanguageDictionaryAutomation& value) noexcept;
void release(BSTR& value) noexcept;

template <typename T>
class Owned {
public:
    Owned() noexcept : value_{} {}
    ~Owned() { release(value_); }
    Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
    Owned& operator=(Owned&&) = delete;
    Owned(const Owned&) = delete;

    T& get() noexcept { return value_; }

private:
    T value_;
};

// A zeroed CoTaskMem array of `count` elements owned by the caller, or null for
// a count of 0; throws std::bad_alloc when there is no memory.
void* allocateZeroed(std::size_t count, std::size_t elementSize);

template <typename T>
class OwnedArray {
public:
    explicit OwnedArray(std::uint32_t count)
        : items_(static_cast<T*>(allocateZeroed(count, sizeof(T)))), count_(count)
    {
    }
    OwnedArray(OwnedArray&& other) noexcept
        : items_(std::exchange(other.items_, nullptr)), count_(std::exchange(other.count_, 0))
    {
    }
    ~OwnedArray()
    {
        for (std::uint32_t i = 0; items_ != nullptr && i < count_; ++i)
            release(items_[i]);
        ::CoTaskMemFree(items_);
    }
    OwnedArray(const OwnedArray&) = delete;
    OwnedArray& operator=(const OwnedArray&) = delete;

    T* get() noexcept { return items_; }
    // Hands the elements to a structure that owns them from now on.
    [[nodiscard]] T* detach() noexcept
    {
        count_ = 0;
        return std::exchange(items_, nullptr);
    }
    std::uint32_t size() const noexcept { return count_; }
    T& operator[](std::uint32_t i) noexcept { return items_[i]; }

private:
    T* items_;
    std::uint32_t count_;
};

// A BSTR copy of a plug-in string; null stays null. `copy` answers null when
// there is no memory; `require` throws std::bad_alloc then.
System::Win32::UniqueBstr copy(const wchar_t* text) noexcept;
System::Win32::UniqueBstr require(const wchar_t* text);

// Why a dialog request could not be converted: the line the caller logs.
enum class DialogFailure { None, ButtonHint, ButtonText, MessageArgText };
const wchar_t* failureText(DialogFailure failure) noexcept;

struct ConvertedDialog {
    Owned<DialogAutomation> dialog;
    DialogFailure failure = DialogFailure::None;
};

// Buttons hint before text, then message arguments, each in index order; the
// type text travels only with type 100. Throws std::bad_alloc when the caption,
// the message, the type text or an array cannot be allocated.
ConvertedDialog convertDialog(const HLXPlugins::DialogInfo& info);

// Null plug-in strings travel as null BSTRs. Arrays with a null pointer convert
// as empty; negative counts are the caller's to refuse.
OwnedArray<LanguageSubstitutionAutomation> convertSubstitutions(const HLXPlugins::LanguageSubstitution* items,
                                                                std::uint32_t count);
OwnedArray<LanguageDictionaryAutomation> convertDictionaries(const HLXPlugins::LanguageDictionary* items,
                                                             std::uint32_t count);

} // namespace Automation
