// The planner over every exported function of Wine's real kernel32, kernelbase
// and ntdll, 32-bit and 64-bit, read from disk: each is either refused by the
// rules or gets a trampoline whose moved instructions mean what the originals
// meant (same mnemonics, same absolute branch and memory targets).
#include "loader_guard/hook_planner.h"

#include <Zydis/Zydis.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace {

using Hooking::Machine;
using Bytes = std::vector<std::uint8_t>;

template <typename T>
T read(const Bytes& image, std::size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= image.size())
        std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

// Just enough of the PE format to find exported code.
class PeImage {
public:
    explicit PeImage(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        if (bytes_.size() < 0x40)
            return;
        const auto pe = read<std::uint32_t>(bytes_, 0x3C);
        const auto sections = read<std::uint16_t>(bytes_, pe + 6);
        const auto optionalSize = read<std::uint16_t>(bytes_, pe + 20);
        const std::size_t optional = pe + 24;
        const bool pe32Plus = read<std::uint16_t>(bytes_, optional) == 0x20B;
        machine_ = pe32Plus ? Machine::X64 : Machine::X86;
        imageBase_ = pe32Plus ? read<std::uint64_t>(bytes_, optional + 24) : read<std::uint32_t>(bytes_, optional + 28);
        const std::size_t directories = optional + (pe32Plus ? 112 : 96);
        exportRva_ = read<std::uint32_t>(bytes_, directories);
        exportSize_ = read<std::uint32_t>(bytes_, directories + 4);
        for (std::size_t i = 0, at = optional + optionalSize; i < sections; ++i, at += 40)
            sections_.push_back({read<std::uint32_t>(bytes_, at + 12), read<std::uint32_t>(bytes_, at + 8),
                                 read<std::uint32_t>(bytes_, at + 20), read<std::uint32_t>(bytes_, at + 36)});
        valid_ = true;
    }

    bool valid() const { return valid_; }
    Machine machine() const { return machine_; }
    std::uint64_t imageBase() const { return imageBase_; }

    // RVAs of exported functions in executable sections, forwarders left out.
    std::vector<std::uint32_t> exportedCode() const
    {
        std::vector<std::uint32_t> functions;
        const auto directory = fileOffset(exportRva_);
        if (!directory)
            return functions;
        const auto count = read<std::uint32_t>(bytes_, *directory + 20);
        const auto table = fileOffset(read<std::uint32_t>(bytes_, *directory + 28));
        for (std::uint32_t i = 0; table && i < count; ++i) {
            const auto rva = read<std::uint32_t>(bytes_, *table + 4 * i);
            const bool forwarder = rva >= exportRva_ && rva < exportRva_ + exportSize_;
            if (rva != 0 && !forwarder && executable(rva))
                functions.push_back(rva);
        }
        return functions;
    }

    Bytes codeAt(std::uint32_t rva, std::size_t size) const
    {
        Bytes code(size, 0xCC);
        if (const auto offset = fileOffset(rva))
            for (std::size_t i = 0; i < size && *offset + i < bytes_.size(); ++i)
                code[i] = bytes_[*offset + i];
        return code;
    }

private:
    struct Section {
        std::uint32_t rva, virtualSize, rawOffset, characteristics;
    };

    const Section* sectionOf(std::uint32_t rva) const
    {
        for (const Section& s : sections_)
            if (rva >= s.rva && rva < s.rva + s.virtualSize)
                return &s;
        return nullptr;
    }
    std::optional<std::size_t> fileOffset(std::uint32_t rva) const
    {
        const Section* s = sectionOf(rva);
        return s ? std::optional<std::size_t>(s->rawOffset + (rva - s->rva)) : std::nullopt;
    }
    bool executable(std::uint32_t rva) const
    {
        const Section* s = sectionOf(rva);
        return s != nullptr && (s->characteristics & 0x20000000u) != 0;
    }

    Bytes bytes_;
    bool valid_ = false;
    Machine machine_ = Machine::X86;
    std::uint64_t imageBase_ = 0;
    std::uint32_t exportRva_ = 0, exportSize_ = 0;
    std::vector<Section> sections_;
};

struct Meaning {
    ZydisMnemonic mnemonic;
    std::vector<std::uint64_t> targets; // absolute branch and memory targets
    std::uint64_t immediate = 0;        // the first other immediate, sign-extended
};

class Decoder {
public:
    explicit Decoder(Machine machine)
    {
        ZydisDecoderInit(&decoder_, machine == Machine::X64 ? ZYDIS_MACHINE_MODE_LONG_64 : ZYDIS_MACHINE_MODE_LEGACY_32,
                         machine == Machine::X64 ? ZYDIS_STACK_WIDTH_64 : ZYDIS_STACK_WIDTH_32);
    }

    // Decodes at `offset` of `bytes` (which lie at `address`); the length, or 0.
    std::size_t meaning(const Bytes& bytes, std::size_t offset, std::uint64_t address, Meaning& out) const
    {
        ZydisDecodedInstruction instruction;
        ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
        if (!ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder_, bytes.data() + offset, bytes.size() - offset, &instruction,
                                                 operands)))
            return 0;
        out.mnemonic = instruction.mnemonic;
        out.targets.clear();
        out.immediate = 0;
        for (std::uint8_t i = 0; i < instruction.operand_count_visible; ++i) {
            const ZydisDecodedOperand& operand = operands[i];
            const bool relative = operand.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && operand.imm.is_relative;
            const bool ripMemory = operand.type == ZYDIS_OPERAND_TYPE_MEMORY && operand.mem.base == ZYDIS_REGISTER_RIP;
            if (operand.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && !relative && out.targets.empty() && out.immediate == 0)
                out.immediate = operand.imm.value.u;
            ZyanU64 absolute = 0;
            if ((relative || ripMemory) && ZYAN_SUCCESS(ZydisCalcAbsoluteAddress(&instruction, &operand, address, &absolute)))
                out.targets.push_back(absolute);
        }
        return instruction.length;
    }

private:
    ZydisDecoder decoder_;
};

class WineImage : public testing::TestWithParam<std::string> {};

TEST_P(WineImage, EveryExportIsRefusedOrMovedFaithfully)
{
    const PeImage image(GetParam());
    ASSERT_TRUE(image.valid()) << GetParam();
    const Decoder decoder(image.machine());
    const std::vector<std::uint32_t> functions = image.exportedCode();
    ASSERT_GT(functions.size(), 100u);
    int planned = 0;
    std::map<std::string, int> refusals;
    for (std::uint32_t rva : functions) {
        const std::uint64_t target = image.imageBase() + rva;
        const std::uint64_t trampoline = target - 0x01000000;
        const Bytes code = image.codeAt(rva, Hooking::kCodeWindow);
        Hooking::Refusal why;
        const auto plan = Hooking::planPatch(image.machine(), code, target, trampoline, trampoline + 0x40, target + 0x100, &why);
        if (!plan) {
            ++refusals[why.reason];
            continue;
        }
        ++planned;
        // Walk the originals and their moved copies side by side.
        std::size_t original = 0, moved = 0;
        bool endsInCall = false;
        while (original < plan->overwrittenLength) {
            Meaning was, is;
            const std::size_t wasLength = decoder.meaning(code, original, target + original, was);
            std::size_t isLength = decoder.meaning(plan->trampoline, moved, trampoline + moved, is);
            ASSERT_GT(wasLength, 0u);
            ASSERT_GT(isLength, 0u) << std::hex << target;
            if (was.mnemonic == ZYDIS_MNEMONIC_CALL) {
                // Push of the original return address (x86-64: its upper half
                // by mov dword [rsp+4]), then a jump where the call went.
                ASSERT_EQ(is.mnemonic, ZYDIS_MNEMONIC_PUSH) << std::hex << target;
                std::uint64_t pushed = image.machine() == Machine::X86 ? is.immediate & 0xFFFFFFFFu : is.immediate;
                moved += isLength;
                const Bytes upperHalf = {0xC7, 0x44, 0x24, 0x04};
                if (std::equal(upperHalf.begin(), upperHalf.end(), plan->trampoline.begin() + moved)) {
                    pushed = (pushed & 0xFFFFFFFFu) | (std::uint64_t{read<std::uint32_t>(plan->trampoline, moved + 4)} << 32);
                    moved += 8;
                }
                EXPECT_EQ(pushed, target + original + wasLength) << std::hex << target;
                isLength = decoder.meaning(plan->trampoline, moved, trampoline + moved, is);
                ASSERT_GT(isLength, 0u) << std::hex << target;
                EXPECT_EQ(is.mnemonic, ZYDIS_MNEMONIC_JMP) << std::hex << target;
                endsInCall = true;
            } else {
                EXPECT_EQ(is.mnemonic, was.mnemonic) << std::hex << target << " +" << original;
            }
            EXPECT_EQ(is.targets, was.targets) << std::hex << target << " +" << original;
            original += wasLength;
            moved += isLength;
        }
        EXPECT_EQ(original, plan->overwrittenLength);
        // A moved call returns into the function by itself; anything else jumps back.
        if (!endsInCall) {
            Meaning back;
            ASSERT_GT(decoder.meaning(plan->trampoline, moved, trampoline + moved, back), 0u);
            EXPECT_EQ(back.mnemonic, ZYDIS_MNEMONIC_JMP) << std::hex << target;
            if (back.targets.size() == 1 && plan->trampoline[moved] == 0xE9) {
                EXPECT_EQ(back.targets[0], target + plan->overwrittenLength) << std::hex << target;
            }
        }
        EXPECT_EQ(moved + (endsInCall ? 0 : 5), plan->trampoline.size()) << std::hex << target;
    }
    // Most system functions can be hooked at all.
    EXPECT_GT(planned, static_cast<int>(functions.size()) / 2) << GetParam();
    std::printf("%s: %zu exported functions, %d planned, %zu refused\n", GetParam().c_str(), functions.size(), planned,
                functions.size() - planned);
    for (const auto& [reason, count] : refusals)
        std::printf("  %d: %s\n", count, reason.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Images, WineImage,
    testing::Values(std::string(WINE_X64_DIR "/kernel32.dll"), std::string(WINE_X64_DIR "/kernelbase.dll"),
                    std::string(WINE_X64_DIR "/ntdll.dll"), std::string(WINE_I386_DIR "/kernel32.dll"),
                    std::string(WINE_I386_DIR "/kernelbase.dll"), std::string(WINE_I386_DIR "/ntdll.dll")),
    [](const auto& info) {
        const std::string& path = info.param;
        std::string name = (path.find("i386") != std::string::npos ? "x86_" : "x64_") + path.substr(path.rfind('/') + 1);
        for (char& c : name)
            if (c == '.')
                c = '_';
        return name;
    });

} // namespace
