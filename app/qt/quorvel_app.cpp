// The application object and its start-up sequence.
#include "app/qt/quorvel_app.h"

#include <QAction>
#include <QFileInfo>
#include <QScreen>
#include <QSettings>

#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/command_ids.h"
#include "app/qt/main_frame.h"
#include "app/qt/quorvel_doc.h"
#include "app/qt/quorvel_view.h"

namespace quorvel {

CQuorvelApp::CQuorvelApp(int& argc, char** argv)
    : QApplication(argc, argv), recentFiles_(kRecentFileCount) {}

// The window goes before the document it shows; both before the application itself.
CQuorvelApp::~CQuorvelApp() {
  mainFrame_.reset();
  document_.reset();
}

bool CQuorvelApp::InitInstance() {
  // Qt's widgets need no registration of control classes, and there is no component-object
  // library to initialise or embedded controls to allow: the application object's
  // construction is the whole base initialisation.
  setApplicationName(QLatin1String(kAppName));
  setApplicationVersion(QStringLiteral("1.0.0.1"));
  setWindowIcon(QuorvelIcon());

  // Settings: the user's store under the organisation name; only the recent-file list.
  setOrganizationName(QLatin1String(kSettingsOrganisation));
  recentFiles_.ReadList(QSettings());

  // The single document, its frame and view. Past Qt's own options, which QApplication
  // has taken, the command line may name one workbook (the desktop's "Open With"): it is
  // opened once the window shows, as File > Open would.
  document_ = std::make_unique<CQuorvelDoc>();
  mainFrame_ = std::make_unique<CMainFrame>(document_.get());
  connect(mainFrame_->CommandAction(CommandId::FileNew), &QAction::triggered, this,
          &CQuorvelApp::OnFileNew);
  connect(mainFrame_->CommandAction(CommandId::AppExit), &QAction::triggered, this,
          &CQuorvelApp::OnAppExit);
  connect(mainFrame_->CommandAction(CommandId::AppAbout), &QAction::triggered, this,
          &CQuorvelApp::OnAppAbout);
  mainFrame_->GetActiveView()->OnInitialUpdate();

  // The window where the user left it; the first time three quarters of the screen, as
  // window systems place new windows.
  if (!mainFrame_->RestoreSettings()) {
    if (const QScreen* screen = primaryScreen(); screen != nullptr) {
      mainFrame_->resize(screen->availableGeometry().size() * 3 / 4);
    }
  }
  mainFrame_->show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) {
    mainFrame_->GetActiveView()->OpenGivenWorkbook(QFileInfo(arguments.at(1)).absoluteFilePath());
  }
  return true;
}

int CQuorvelApp::ExitInstance(int exitCode) {
  QSettings settings;
  recentFiles_.WriteList(settings);
  return exitCode;
}

void CQuorvelApp::OnFileNew() {
  if (document_->OnNewDocument()) mainFrame_->GetActiveView()->OnInitialUpdate();
}

void CQuorvelApp::OnAppExit() { mainFrame_->close(); }

void CQuorvelApp::OnAppAbout() { CAboutDlg(mainFrame_.get()).exec(); }

}  // namespace quorvel
