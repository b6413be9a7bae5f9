// A stand-in server program: writes its command line to "<program>.args" (the program's path
// with the extension replaced) and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L'.'));
    path += L".args";
    const wchar_t* line = GetCommandLineW();
    const int n = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), n, nullptr, nullptr);
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file) {
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    return 0;
}
