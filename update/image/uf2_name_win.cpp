#include "update/image/uf2_name.h"

#include "base/utf8.h"

std::wstring BuildUf2FileName(const std::string& downloadUrl) {
    return Uf2FileNameFromUrl(Utf8ToWide(downloadUrl));
}
