#include "Datas.h"

#include "build_settings.h"

extern const bool PublicBuild = kPublicBuild;
extern const std::string_view MakerSupportPhone = kMakerSupportPhone;
extern const std::string_view MakerWebAddress = kMakerWebAddress;
extern const std::string_view MakerNotice = kMakerNotice;

UpdateImage BuiltInImage() {
  return {InitData, InitDataLength, InitDataSize, MainData, MainDataLength, MainDataSize};
}

namespace {
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
}  // namespace

std::string TitleWithVersion(std::string_view title) {
  std::string text(title);
  for (std::size_t i = 0; i + 3 < text.size(); ++i) {
    if (IsDigit(text[i]) && text[i + 1] == '.' && IsDigit(text[i + 2]) && IsDigit(text[i + 3])) {
      if (i > 0 && text[i - 1] != 'V' && text[i - 1] != 'v') text.insert(i, 1, 'V');
      break;
    }
  }
  return text;
}

HeaderTexts MainWindowHeader(std::string_view imageTitle, std::string_view imageVendor,
                             std::string_view imageNote, bool publicBuild,
                             std::string_view layoutTitle) {
  HeaderTexts header{std::string(layoutTitle), false, {}, !publicBuild};
  if (!imageTitle.empty()) header.title = TitleWithVersion(imageTitle);
  if (!imageVendor.empty() && imageVendor != "BRIVON") {
    header.cornerVisible = true;
    header.cornerLabel = std::string(imageVendor);
  } else if (!imageNote.empty()) {
    header.cornerVisible = true;
    header.cornerLabel = std::string(imageNote);
  }
  return header;
}
