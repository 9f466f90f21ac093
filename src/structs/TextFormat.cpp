#include "TextFormat.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdio>
#include <vector>

namespace updater {

std::string FormatV(const char* format, va_list args) {
  va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(nullptr, 0, format, probe);
  va_end(probe);
  if (needed <= 0) {
    return {};
  }
  std::vector<char> buffer(static_cast<size_t>(needed) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(needed));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

std::string Cp1251ToUtf8(std::string_view bytes) {
  QStringDecoder decoder("windows-1251");
  const QString text =
      decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return text.toStdString();
}

std::string Utf8ToCp1251(std::string_view text) {
  // The encoder would drop unencodable characters silently; the log file wants '?' in their place.
  const QString unicode = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
  std::string out;
  out.reserve(static_cast<size_t>(unicode.size()));
  for (qsizetype i = 0; i < unicode.size(); ++i) {
    qsizetype len = 1;
    if (unicode.at(i).isHighSurrogate() && i + 1 < unicode.size()) {
      len = 2;
    }
    const QByteArray encoded = encoder.encode(QStringView(unicode).mid(i, len));
    if (encoder.hasError() || encoded.size() != 1) {
      // resetState() leaves the ICU converter failing every later character; start afresh.
      encoder = QStringEncoder("windows-1251", QStringConverter::Flag::Stateless);
      out.push_back('?');
    } else {
      out.push_back(encoded.at(0));
    }
    i += len - 1;
  }
  return out;
}

}  // namespace updater
