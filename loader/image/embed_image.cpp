// Build tool: checks an update image file and writes the C++ source that holds it as the
// program's constants.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "image_file.h"

namespace {

std::string CppString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      const char* digits = "01234567";
      out += '\\';
      out += digits[(c >> 6) & 7];
      out += digits[(c >> 3) & 7];
      out += digits[c & 7];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void WriteArray(std::ostream& out, const char* name, const std::vector<std::uint8_t>& bytes) {
  out << "extern const std::uint8_t " << name << "[] = {";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 24 == 0) out << "\n   ";
    out << ' ' << static_cast<unsigned>(bytes[i]) << ',';
  }
  out << "\n};\nextern const std::size_t " << name << "Length = " << bytes.size() << ";\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: embed_image <image file> <output .cpp>\n";
    return 2;
  }
  try {
    auto image = image::ReadImage(argv[1]);
    image::CheckImage(image);
    // The main area always has its full capacity; bytes past the file's end are zero.
    image.MainData.resize(image::kMainCapacity, 0);
    std::ofstream out(argv[2], std::ios::binary);
    out << "// Generated from " << argv[1] << " by embed_image. Do not edit.\n"
        << "#include \"Datas.h\"\n\n"
        << "extern const std::string_view ImageNote = " << CppString(image.ImageNote) << ";\n"
        << "extern const std::string_view ImageVendor = " << CppString(image.ImageVendor) << ";\n"
        << "extern const std::int32_t InitDataSize = " << image.InitDataSize << ";\n"
        << "extern const std::int32_t MainDataSize = " << image.MainDataSize << ";\n"
        << "extern const std::string_view ImageTitle = " << CppString(image.ImageTitle) << ";\n";
    WriteArray(out, "InitData", image.InitData);
    WriteArray(out, "MainData", image.MainData);
    // Closing writes the last buffered bytes; only a stream still good after it holds them all.
    out.close();
    if (!out) throw image::ImageError(std::string("cannot write ") + argv[2]);
  } catch (const std::exception& error) {
    std::cerr << "Update image " << argv[1] << " refused: " << error.what() << "\n";
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
