#pragma once

namespace corvanel {

/// The graphics libraries the game loads natively, each with the cabinet of the bundled
/// DirectX redistributable that carries it. Names keep their letter case: they are archive
/// members and file names alike.
struct GraphicsLibrary {
    const char* cabinet;
    const char* library;
};

inline constexpr GraphicsLibrary graphicsLibraries[] = {
    {"OCT2006_d3dx9_31_x86.cab", "d3dx9_31.dll"},
    {"Jun2010_d3dx9_43_x86.cab", "d3dx9_43.dll"},
    {"Jun2010_D3DCompiler_43_x86.cab", "D3DCompiler_43.dll"},
};

} // namespace corvanel
