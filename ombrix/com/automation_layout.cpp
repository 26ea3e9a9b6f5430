// The launcher is a 32-bit program built elsewhere: the structures it receives
// by value must have exactly its layout in the 32-bit build.
#include "ombrix_interfaces.h"

#include <cstddef>

namespace {

constexpr bool k32Bit = sizeof(void*) == 4;

static_assert(!k32Bit || sizeof(DialogAutomation) == 44);
static_assert(!k32Bit || offsetof(DialogAutomation, caption) == 0);
static_assert(!k32Bit || offsetof(DialogAutomation, message) == 4);
static_assert(!k32Bit || offsetof(DialogAutomation, messageArgCount) == 8);
static_assert(!k32Bit || offsetof(DialogAutomation, messageArgs) == 12);
static_assert(!k32Bit || offsetof(DialogAutomation, buttonCount) == 16);
static_assert(!k32Bit || offsetof(DialogAutomation, buttons) == 20);
static_assert(!k32Bit || offsetof(DialogAutomation, defaultButtonId) == 24);
static_assert(!k32Bit || offsetof(DialogAutomation, style) == 28);
static_assert(!k32Bit || offsetof(DialogAutomation, type) == 32);
static_assert(!k32Bit || offsetof(DialogAutomation, typeText) == 36);
static_assert(!k32Bit || offsetof(DialogAutomation, flagA) == 40);
static_assert(!k32Bit || offsetof(DialogAutomation, flagB) == 41);

static_assert(!k32Bit || sizeof(ButtonAutomation) == 12);
static_assert(!k32Bit || offsetof(ButtonAutomation, text) == 4);
static_assert(!k32Bit || offsetof(ButtonAutomation, hint) == 8);

static_assert(!k32Bit || sizeof(MessageArgAutomation) == 8);
static_assert(offsetof(MessageArgAutomation, value) == 0);
static_assert(!k32Bit || offsetof(MessageArgAutomation, text) == 4);

static_assert(!k32Bit || sizeof(LanguageSubstitutionAutomation) == 12);
static_assert(!k32Bit || offsetof(LanguageSubstitutionAutomation, count) == 4);
static_assert(!k32Bit || offsetof(LanguageSubstitutionAutomation, substitutes) == 8);

static_assert(!k32Bit || sizeof(LanguageDictionaryAutomation) == 12);
static_assert(!k32Bit || offsetof(LanguageDictionaryAutomation, count) == 4);
static_assert(!k32Bit || offsetof(LanguageDictionaryAutomation, entries) == 8);
static_assert(!k32Bit || sizeof(LanguageDictionaryEntryAutomation) == 12);

// Every operation returns an HRESULT and long is 32 bits in both Windows builds.
static_assert(sizeof(long) == 4);

} // namespace
