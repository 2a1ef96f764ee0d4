pragma Singleton
import QtQuick

// Glyphs of the Material Design icon font standing in for the platform's symbols.
QtObject {
    readonly property string folder: "\ue2c8"          // folder_open
    readonly property string folderFill: "\ue2c7"      // folder
    readonly property string waveform: "\ue1b8"        // graphic_eq
    readonly property string arrowRight: "\ue5c8"      // arrow_forward
    readonly property string checkmarkCircle: "\ue92d" // check_circle_outline
    readonly property string playFill: "\ue037"        // play_arrow
    readonly property string warning: "\ue002"         // warning
    readonly property string info: "\ue88f"            // info_outline
    readonly property string chevronRight: "\ue5cc"   // chevron_right
    readonly property string spinner: "\ue863"         // autorenew
}
