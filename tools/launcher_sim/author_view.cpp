#include "author_view.h"

#include <array>

namespace LauncherSim {

namespace {

// {args} is the call's arguments without the plug-in id, {answer} what it returned.
struct Phrase {
    std::wstring_view call; // "Interface::operation"
    std::wstring_view text;
};

constexpr std::array kPhrases{
    Phrase{L"IPluginSystem::registerPlugin", L"host: loaded the plug-in and is ready"},
    Phrase{L"IPluginSystem::unregisterPlugin", L"host: releases the plug-in"},
    Phrase{L"IPluginSystem::getPluginPath", L"host: asks for the plug-in's file: {answer}"},
    Phrase{L"IPluginSystem::getGameWorkDir", L"the game folder is asked for: {answer}"},
    Phrase{L"IPluginSystem::language", L"plug-in: reads the language: {answer}"},
    Phrase{L"IPluginSystem::installationId", L"plug-in: reads the installation id: {answer}"},
    Phrase{L"IPluginSystem::mainWindow", L"plug-in: reads the main window: {answer}"},
    Phrase{L"IPluginSystem::writeLog", L"plug-in: writes to the launcher's log (text, level): {args}"},
    Phrase{L"IPluginSystem::showDialogEx", L"plug-in: opens a dialog (id, {caption, message, ...}): {args}"},
    Phrase{L"IPluginSystem::setLanguageSubstitutions", L"plug-in: sets language substitutions: {args}"},
    Phrase{L"IPluginSystem::setMultiLanguageDictionary", L"plug-in: sets a language dictionary: {args}"},
    Phrase{L"IPluginSystem::setGameCanStart", L"plug-in: says the game can start: {args}"},
    Phrase{L"IPluginSystem::setCurrentPartIntegrity", L"plug-in: says the current part is intact: {args}"},
    Phrase{L"IPluginSystem::setCurrentPartVersion", L"plug-in: sets the current part's version: {args}"},
    Phrase{L"IPluginSystem::restartAgent", L"plug-in: asks to restart the agent: {args}"},
    Phrase{L"IUpdatePluginEvents::onStart", L"plug-in: reports it started"},
    Phrase{L"IUpdatePluginEvents::onProgress", L"plug-in: reports progress: {args}"},
    Phrase{L"IUpdatePluginEvents::onStatusInfo", L"plug-in: reports status: {args}"},
    Phrase{L"IUpdatePluginEvents::onFinish", L"plug-in: reports it finished, success: {args}"},
    Phrase{L"called IPluginSystemEvents::onDialogFinish", L"launcher: the user closed dialog {args}"},
    Phrase{L"IUpdatePlugin::name", L"launcher: asks the plug-in's name: {answer}"},
    Phrase{L"IUpdatePlugin::description", L"launcher: asks the plug-in's description: {answer}"},
    Phrase{L"IUpdatePlugin::versionString", L"launcher: asks the plug-in's version: {answer}"},
    Phrase{L"IUpdatePlugin::error", L"launcher: asks the plug-in's error text: {answer}"},
    Phrase{L"IUpdatePlugin::getAdditionalProp", L"launcher: asks the property {args}: {answer}"},
    Phrase{L"IUpdatePlugin::setAdditionalProp", L"launcher: sets the property (name, value) {args}"},
    Phrase{L"IUpdatePlugin::start", L"launcher: asks the plug-in to start"},
    Phrase{L"IUpdatePlugin::stop", L"launcher: asks the plug-in to stop (forced: {args})"},
    Phrase{L"IUpdatePlugin::deinitialize", L"launcher: asks the plug-in to end"},
    Phrase{L"IUpdatePlugin::onDialogFinish", L"launcher: the user closed dialog {args}"},
};

// Lines of the session itself that say nothing about the plug-in.
constexpr std::array kHidden{std::wstring_view(L"step: "), std::wstring_view(L"published ")};

std::wstring replaced(std::wstring_view text, std::wstring_view args, std::wstring_view answer)
{
    std::wstring out(text);
    for (const auto& [key, value] : {std::pair{std::wstring_view(L"{args}"), args}, std::pair{std::wstring_view(L"{answer}"), answer}})
        if (const auto at = out.find(key); at != std::wstring::npos)
            out.replace(at, key.size(), value);
    return out;
}

} // namespace

std::optional<std::wstring> forAuthors(std::wstring_view line)
{
    for (const std::wstring_view hidden : kHidden)
        if (line.starts_with(hidden))
            return std::nullopt;
    const auto open = line.find(L'(');
    const auto arrow = line.find(L") -> ");
    if (open == std::wstring_view::npos || arrow == std::wstring_view::npos || arrow < open)
        return std::wstring(line);
    const std::wstring_view call = line.substr(0, open);
    std::wstring_view args = line.substr(open + 1, arrow - open - 1);
    std::wstring_view rest = line.substr(arrow + 5);
    const auto space = rest.find(L' ');
    const std::wstring_view result = rest.substr(0, space);
    const std::wstring_view answer = space == std::wstring_view::npos ? L"" : rest.substr(space + 1);
    for (const Phrase& phrase : kPhrases) {
        if (call != phrase.call)
            continue;
        // The plug-in id leads the arguments of every plug-in report; the author knows it.
        if (!call.starts_with(L"IUpdatePlugin::") && !call.starts_with(L"called ")) {
            if (const auto comma = args.find(L", "); comma != std::wstring_view::npos &&
                args.find_first_not_of(L"0123456789") == comma)
                args.remove_prefix(comma + 2);
            else if (args.find_first_not_of(L"0123456789") == std::wstring_view::npos)
                args = {};
        }
        std::wstring text = replaced(phrase.text, args, answer);
        if (result != L"S_OK")
            text += L" -- failed (" + std::wstring(result) + L")";
        return text;
    }
    return std::wstring(line);
}

} // namespace LauncherSim
