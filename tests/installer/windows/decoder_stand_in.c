/* A COM server stand-in for the prefix tests: DllRegisterServer succeeds and records, under
 * the decoder's class, an in-process server path chosen at build time (REGISTERED_PATH), so a
 * test can make the read-back miss the decoder's name or show it in another letter case. */
#include <windows.h>

#ifndef REGISTERED_PATH
#define REGISTERED_PATH "C:\\windows\\syswow64\\quartz.dll"
#endif

static const char serverKey[] = "Software\\Classes\\CLSID\\{2EEB4ADF-4578-4D10-BCA7-BB955F56320A}\\InprocServer32";

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, serverKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return E_FAIL;
    LONG written = RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)REGISTERED_PATH, sizeof REGISTERED_PATH);
    RegCloseKey(key);
    return written == ERROR_SUCCESS ? S_OK : E_FAIL;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) { return S_OK; }
