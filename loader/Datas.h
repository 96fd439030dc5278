// The update built into the program: three header texts, two sizes and two byte areas, fixed
// when the program is built (the image file is turned into constants by the build).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern const std::string_view ImageNote;
extern const std::string_view ImageVendor;
extern const std::int32_t InitDataSize;
extern const std::int32_t MainDataSize;
extern const std::string_view ImageTitle;
extern const std::uint8_t InitData[];
extern const std::size_t InitDataLength;
extern const std::uint8_t MainData[];
extern const std::size_t MainDataLength;

// False in internal builds: the main window then says "Nur für interne Verwendung !".
extern const bool PublicBuild;

// The maker's details, fixed at build time.
extern const std::string_view MakerSupportPhone;
extern const std::string_view MakerWebAddress;
extern const std::string_view MakerNotice;  // follows "Morvane Loader XP USB" in the caption

// The image as the update procedure reads it.
struct UpdateImage {
  const std::uint8_t* InitData;
  std::size_t InitDataLength;
  std::int32_t InitDataSize;
  const std::uint8_t* MainData;
  std::size_t MainDataLength;
  std::int32_t MainDataSize;
};
UpdateImage BuiltInImage();

// What the main window shows of the image's header texts when it is created.
struct HeaderTexts {
  std::string title;        // caption of Label5
  bool cornerVisible;       // Label7 shown
  std::string cornerLabel;  // caption of Label7 when shown
  bool internalBuildLine;   // Label3 reads "Nur für interne Verwendung !"
};
// `layoutTitle` is Label5's caption from the layout ("Morvane Update").
HeaderTexts MainWindowHeader(std::string_view imageTitle, std::string_view imageVendor,
                             std::string_view imageNote, bool publicBuild,
                             std::string_view layoutTitle);
// The title with "V" put before its first version number (digit, point, two digits) unless a
// "V" or "v" already stands there or the title begins with it.
std::string TitleWithVersion(std::string_view title);
