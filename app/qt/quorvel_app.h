// The application object: the start-up sequence, the settings, and the commands that
// belong to the application rather than the view (New, Exit, About).
#pragma once

#include <QApplication>
#include <memory>

#include "app/qt/recent_file_list.h"

namespace quorvel {

class CMainFrame;
class CQuorvelDoc;

class CQuorvelApp : public QApplication {
  Q_OBJECT

 public:
  CQuorvelApp(int& argc, char** argv);
  ~CQuorvelApp() override;

  // Start-up: settings, document, main window and view, the view's start-up, and the
  // window shown. False when the program cannot start.
  bool InitInstance();
  // End: writes the recent-file list back; returns the exit code it is given.
  int ExitInstance(int exitCode);

  CMainFrame* MainFrame() const { return mainFrame_.get(); }
  CQuorvelDoc* Document() const { return document_.get(); }
  const RecentFileList& RecentFiles() const { return recentFiles_; }

 public slots:
  void OnFileNew();
  void OnAppExit();
  void OnAppAbout();

 private:
  std::unique_ptr<CQuorvelDoc> document_;
  std::unique_ptr<CMainFrame> mainFrame_;
  RecentFileList recentFiles_;
};

}  // namespace quorvel
