// Asks Windows Installer what it knows of products, through msi.dll.
// Usage: msiquery.exe state {product-code} ...  -> "state {code} N" per code
//        msiquery.exe related {upgrade-code}    -> "related {code}" per product
#include <windows.h>
#include <msi.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: msiquery.exe state|related GUID...\n", stderr);
        return 2;
    }
    if (std::wcscmp(argv[1], L"state") == 0) {
        for (int i = 2; i < argc; ++i)
            std::printf("state %ls %d\n", argv[i], static_cast<int>(MsiQueryProductStateW(argv[i])));
        return 0;
    }
    wchar_t product[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(argv[2], 0, i, product) == ERROR_SUCCESS; ++i)
        std::printf("related %ls\n", product);
    return 0;
}
