// The recent-file list kept in the user's settings: section "Recent File List", entries
// "File1" to "FileN". The program shows it nowhere and adds nothing to it; it reads the
// list at start-up and writes it back at exit, as the list was.
#pragma once

#include <QStringList>

class QSettings;

namespace quorvel {

class RecentFileList {
 public:
  explicit RecentFileList(int size) : size_(size) {}

  // Reads entries File1..FileN; a missing entry reads as empty.
  void ReadList(const QSettings& settings);
  // Replaces the section by the non-empty entries, each under its own number.
  void WriteList(QSettings& settings) const;
  const QStringList& Entries() const { return entries_; }

 private:
  int size_;
  QStringList entries_;
};

}  // namespace quorvel
