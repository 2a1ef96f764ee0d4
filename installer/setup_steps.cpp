#include "installer/setup_steps.h"

namespace corvanel {

std::string_view stageTitle(SetupStage stage)
{
    switch (stage) {
    case SetupStage::Import:
        return "Importing your Halo 2 files";
    case SetupStage::AudioDecoder:
        return "Getting the audio decoder";
    case SetupStage::Runtime:
        return "Getting the compatibility runtime";
    case SetupStage::GraphicsLibraries:
        return "Installing the game's graphics libraries";
    case SetupStage::WindowsEnvironment:
        return "Creating your private Windows environment";
    case SetupStage::Finishing:
        return "Finishing";
    }
    return "";
}

} // namespace corvanel
