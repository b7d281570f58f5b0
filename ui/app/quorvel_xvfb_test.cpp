// The viewer on a real X server: starts Xvfb on a free display, starts Quorvel there with a data
// root of its own and a free syslog port, sends it syslog datagrams, and photographs the screen
// into the build folder (screenshots/), checking that the messages are there in their severity
// colours. Xvfb and Quorvel are started here and stopped by their process ids.
//
// The photograph is taken by this program itself, started again with --grab on the X display.

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <fstream>
#include <string>
#include <vector>

#include "testing/free_udp_port.h"
#include "testing/temp_home.h"
#include "testing/xvfb_children.h"
#include "ui/app/about_dlg.h"
#include "ui/app/help_topics_dlg.h"
#include "ui/app/message_box_dlg.h"
#include "ui/app/view_options_dlg.h"

namespace qv {
namespace {

using qv::testing::Child;
using qv::testing::CountColour;
using qv::testing::SendDatagram;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

int FreeDisplayNumber() {
  for (int display = 90; display < 400; ++display) {
    if (!QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)) && !QFile::exists(QString("/tmp/.X%1-lock").arg(display))) {
      return display;
    }
  }
  return -1;
}

int LineCount(const std::string& path) {
  std::ifstream in(path);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

const std::vector<std::string> kMessages = {
    "<30>Dec  8 09:14:02 fileserver systemd[1]: Started Daily apt download activities.",
    "<38>Dec  8 09:14:05 fileserver sshd[2211]: Accepted publickey for backup from 192.0.2.10 port 51122",
    "<86>Dec  8 09:14:07 gateway sudo: pam_unix(sudo:session): session opened for user root",
    "<12>Dec  8 09:14:09 switch-2 port 7: link down, spanning tree topology change",
    "<13>Dec  8 09:14:10 switch-2 port 7: link up at 1000 Mbit/s full duplex",
    "<11>Dec  8 09:14:12 gateway kernel: nf_conntrack: table full, dropping packet",
    "<10>Dec  8 09:14:15 storage01 smartd[880]: Device /dev/sdb, 8 Currently unreadable sectors",
    "<9>Dec  8 09:14:17 storage01 mdadm[901]: DegradedArray event detected on md device /dev/md0",
    "<8>Dec  8 09:14:18 ups-01 upsmon[412]: UPS ups@localhost on battery, 4 minutes remaining",
    "<15>Dec  8 09:14:20 printer-3 lpd[3310]: job 4411 completed, 3 pages",
    "<14>Dec  8 09:14:22 webfront nginx: 203.0.113.5 - - \"GET /status HTTP/1.1\" 200 612",
    "<28>Dec  8 09:14:25 mailhost postfix/smtpd[6121]: warning: hostname unknown does not resolve",
};

}  // namespace

class XvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void screenshotsOfTheMainWindowWithMessages() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString xauth = QStandardPaths::findExecutable("xauth");
    if (xvfb.isEmpty() || xauth.isEmpty()) QSKIP("Xvfb or xauth is not installed");
    qv::testing::TempHome home;
    const int display = FreeDisplayNumber();
    QVERIFY(display > 0);
    const QString displayName = QString(":%1").arg(display);
    const QString authority = QString::fromStdString(home.file("xauthority"));
    const QString cookie = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0') +
                           QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    QCOMPARE(QProcess::execute(xauth, {"-q", "-f", authority, "add", displayName, ".", cookie}), 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XAUTHORITY", authority);
    environment.insert("DISPLAY", displayName);
    environment.insert("QUORVEL_HOME", QString::fromStdString(home.path().string()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("WAYLAND_DISPLAY");

    Child server;
    QVERIFY(server.Start(xvfb, {displayName, "-screen", "0", QString("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight),
                                "-nolisten", "tcp", "-auth", authority},
                         environment));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)), 10000);

    const int port = qv::testing::FreeUdpPort();
    QCOMPARE(QProcess::execute(QVREG_PATH, {"set", "Software\\Fendrake\\Quorvel\\Settings", "udpport", "dword",
                                            QString::number(port)}),
             0);
    Child viewer;
    QVERIFY(viewer.Start(QUORVEL_PATH, {}, environment));

    // The viewer listens once its window is up: knock until the history shows the first message.
    const std::string history = home.file("qvhista.txt");
    for (int tries = 0; tries < 150 && LineCount(history) == 0; ++tries) {
      SendDatagram(port, kMessages.front());
      QTest::qWait(100);
      QVERIFY(viewer.Running());
    }
    const int first = LineCount(history);
    QVERIFY(first > 0);
    for (std::size_t i = 1; i < kMessages.size(); ++i) SendDatagram(port, kMessages[i]);
    QTRY_COMPARE_WITH_TIMEOUT(LineCount(history), first + static_cast<int>(kMessages.size()) - 1, 5000);
    QTest::qWait(800);  // the refresh comes at most 250 ms after the last message

    const QString folder = QString(SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString screen = folder + "/quorvel-screen.png";
    QFile::remove(screen);
    QProcess grabber;
    grabber.setProcessEnvironment(environment);
    grabber.start(QCoreApplication::applicationFilePath(), {"--grab", screen});
    QVERIFY(grabber.waitForFinished(20000));
    QCOMPARE(grabber.exitCode(), 0);
    QVERIFY(viewer.Running());

    QImage image(screen);
    QVERIFY(!image.isNull());
    image = image.convertToFormat(QImage::Format_RGB32);
    // The default window covers the middle three quarters; without a window manager it has no frame.
    const QRect window(kScreenWidth / 8, kScreenHeight / 8, kScreenWidth * 3 / 4, kScreenHeight * 3 / 4);
    const QImage main = image.copy(window);
    QVERIFY(main.save(folder + "/quorvel-main-window.png"));
    // Severity cells in their default colours: Emergency, Critical, Warning, Informational.
    QVERIFY(CountColour(main, qRgb(255, 0, 0)) > 200);
    QVERIFY(CountColour(main, qRgb(255, 255, 0)) > 200);
    QVERIFY(CountColour(main, qRgb(255, 255, 192)) > 200);
    QVERIFY(CountColour(main, qRgb(192, 255, 255)) > 200);

    // The program's own small dialogs, drawn by this X server with its fonts.
    QProcess dialogs;
    dialogs.setProcessEnvironment(environment);
    dialogs.start(QCoreApplication::applicationFilePath(), {"--dialogs", folder});
    QVERIFY(dialogs.waitForFinished(20000));
    QCOMPARE(dialogs.exitCode(), 0);
    for (const char* name : {"about", "view-options", "message-box", "help-topics"}) {
      const QImage dialog(folder + "/quorvel-" + name + ".png");
      QVERIFY2(!dialog.isNull() && dialog.width() > 100 && dialog.height() > 50, name);
    }
    viewer.Stop();
    server.Stop();
  }
};

}  // namespace qv

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--grab") {
    QGuiApplication application(argc, argv);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    return !screen.isNull() && screen.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
  }
  if (argc == 3 && std::string(argv[1]) == "--dialogs") {
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    qv::testing::TempHome home;  // "msgboxtime" and the column settings at their defaults
    qv::CAboutDlg about;
    qv::CViewOptionsDlg options({true, true, true, true, true, false, true}, 0);
    qv::CMessageBoxDlg box("Door sensor", "The server room door was opened at 09:14 by badge 4411.");
    qv::CHelpTopicsDlg help;
    bool saved = true;
    for (const auto& [dialog, name] : {std::pair<QWidget*, const char*>{&about, "about"}, {&options, "view-options"},
                                       {&box, "message-box"}, {&help, "help-topics"}}) {
      dialog->show();
      QApplication::processEvents();
      QTest::qWait(100);
      saved = dialog->grab().save(folder + "/quorvel-" + name + ".png") && saved;
    }
    return saved ? 0 : 1;
  }
  QCoreApplication application(argc, argv);
  qv::XvfbTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "quorvel_xvfb_test.moc"
