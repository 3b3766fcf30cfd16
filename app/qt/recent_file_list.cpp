// The recent-file list in the user's settings.
#include "app/qt/recent_file_list.h"

#include <QSettings>

namespace quorvel {
namespace {

constexpr const char* kSection = "Recent File List";

QString EntryKey(int number) {
  return QStringLiteral("%1/File%2").arg(QLatin1String(kSection)).arg(number);
}

}  // namespace

void RecentFileList::ReadList(const QSettings& settings) {
  entries_.clear();
  for (int number = 1; number <= size_; ++number)
    entries_.append(settings.value(EntryKey(number)).toString());
}

void RecentFileList::WriteList(QSettings& settings) const {
  settings.remove(QLatin1String(kSection));
  for (qsizetype k = 0; k < entries_.size(); ++k) {
    if (!entries_[k].isEmpty()) settings.setValue(EntryKey(static_cast<int>(k) + 1), entries_[k]);
  }
}

}  // namespace quorvel
