// shortcut-target LINK: prints the target of a shell shortcut (.lnk) as the Windows shell reads
// it, in UTF-8, for the installer's check in scripts/test-windows.sh. Exit 1 when the shortcut
// cannot be read.
#include <windows.h>

#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct Release {
    void operator()(IUnknown* object) const { object->Release(); }
};

template <typename Interface>
using Com = std::unique_ptr<Interface, Release>;

struct ComApartment {
    bool ready = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~ComApartment() {
        if (ready) {
            CoUninitialize();
        }
    }
};

bool read_target(const wchar_t* path, std::wstring& target) {
    IShellLinkW* raw_link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&raw_link)))) {
        return false;
    }
    const Com<IShellLinkW> link(raw_link);
    IPersistFile* raw_file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&raw_file)))) {
        return false;
    }
    const Com<IPersistFile> file(raw_file);
    if (FAILED(file->Load(path, STGM_READ))) {
        return false;
    }
    wchar_t buffer[MAX_PATH] = {};
    if (link->GetPath(buffer, MAX_PATH, nullptr, 0) != S_OK) {
        return false;
    }
    target = buffer;
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: shortcut-target LINK\n", stderr);
        return 2;
    }
    const ComApartment apartment;
    std::wstring target;
    if (!apartment.ready || !read_target(argv[1], target)) {
        std::fputs("shortcut-target: cannot read the shortcut\n", stderr);
        return 1;
    }
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, target.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, target.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());
    return 0;
}
