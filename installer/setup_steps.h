#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvanel {

/// The stages of a setup, in the order it runs them. A repair runs those it needs, in the
/// same order, and skips the others.
enum class SetupStage { Import, AudioDecoder, Runtime, GraphicsLibraries, WindowsEnvironment, Finishing };

inline constexpr SetupStage setupStages[] = {
    SetupStage::Import,
    SetupStage::AudioDecoder,
    SetupStage::Runtime,
    SetupStage::GraphicsLibraries,
    SetupStage::WindowsEnvironment,
    SetupStage::Finishing,
};

/// The stage's name as the progress screen lists it, e.g. "Getting the audio decoder".
std::string_view stageTitle(SetupStage stage);

/// One move of a stage: it started, moved on to a sub-step, finished, or has nothing to do.
struct StageEvent {
    enum class Kind { Started, Detail, Finished, Skipped };
    SetupStage stage;
    Kind kind;
    std::string detail = {}; ///< for Detail: one sentence saying what the stage is doing now
};

using StageReport = std::function<void(const StageEvent&)>;

// What Wine is doing while it builds the private Windows environment.
inline constexpr std::string_view creatingEnvironment = "Wine is creating the Windows environment.";
inline constexpr std::string_view applyingSettings = "Wine is applying the game's settings.";
inline constexpr std::string_view registeringDecoder = "Wine is registering the audio decoder.";
inline constexpr std::string_view savingEnvironment = "Wine is saving the Windows environment.";

} // namespace corvanel
