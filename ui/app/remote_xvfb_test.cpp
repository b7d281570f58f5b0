// The viewer following a remote service on a real X server: in a network namespace of the
// test's own, a real dunmir serves its viewer link with a certificate file from
// `qvreg viewer-cert`, and Quorvel, with a data root of its own, is started with
// --connect 127.0.0.1:PORT --cert FILE on Xvfb. The screen is photographed into the build folder
// (screenshots/quorvel-remote.png) once the service's messages, backfill and live, are shown in
// their severity colours. Every process is started here and stopped by its id.

#include <signal.h>
#include <unistd.h>

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

#include <string>
#include <vector>

#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"
#include "testing/xvfb_children.h"

namespace qv {
namespace {

using qv::testing::Child;
using qv::testing::CountColour;
using qv::testing::SendDatagram;

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;
const QString kSettings = "Software\\Fendrake\\Quorvel\\Settings";

// Before the viewer connects: these reach it as backfill.
const std::vector<std::string> kEarlier = {
    "<8>Dec  8 09:14:18 ups-01 upsmon[412]: UPS ups@localhost on battery, 4 minutes remaining",
    "<10>Dec  8 09:14:15 storage01 smartd[880]: Device /dev/sdb, 8 Currently unreadable sectors",
    "<30>Dec  8 09:14:02 rack-7 systemd[1]: Started Daily apt download activities.",
};
// After: live.
const std::vector<std::string> kLive = {
    "<12>Dec  8 09:15:09 switch-2 port 7: link down, spanning tree topology change",
    "<14>Dec  8 09:15:22 webfront nginx: 203.0.113.5 - - \"GET /status HTTP/1.1\" 200 612",
    "<11>Dec  8 09:15:30 gateway kernel: nf_conntrack: table full, dropping packet",
};

// True when qvreg succeeded; what it printed goes to `output`.
bool Qvreg(const QProcessEnvironment& environment, const QStringList& arguments, QString* output = nullptr) {
  QProcess qvreg;
  qvreg.setProcessEnvironment(environment);
  qvreg.start(QVREG_PATH, arguments);
  const bool done = qvreg.waitForFinished(10000) && qvreg.exitStatus() == QProcess::NormalExit && qvreg.exitCode() == 0;
  if (output != nullptr) *output = QString::fromUtf8(qvreg.readAllStandardOutput()).trimmed();
  return done;
}

}  // namespace

class RemoteXvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void screenshotOfTheViewerFollowingARemoteService() {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    const QString xauth = QStandardPaths::findExecutable("xauth");
    if (xvfb.isEmpty() || xauth.isEmpty()) QSKIP("Xvfb or xauth is not installed");
    if (!qv::testing::OwnNetworkNamespace::Enter()) QSKIP("cannot make a network namespace (needs root)");
    qv::testing::TempHome viewerHome;
    qv::testing::TempHome serviceHome;  // the last made is QUORVEL_HOME; the children get theirs below

    QProcessEnvironment service = QProcessEnvironment::systemEnvironment();
    service.insert("QUORVEL_HOME", QString::fromStdString(serviceHome.path().string()));
    const int udpPort = qv::testing::FreeUdpPort();
    const int viewerPort = qv::testing::FreeTcpPort();
    for (const auto& [name, value] : {std::pair<QString, int>{"udpport", udpPort}, {"viewerport", viewerPort},
                                      {"SNMPTrapMonitor", 0}, {"EventLog", 0}}) {
      QVERIFY(Qvreg(service, {"set", kSettings, name, "dword", QString::number(value)}));
    }
    QString certificate;
    QVERIFY(Qvreg(service, {"viewer-cert", "desk"}, &certificate));
    QVERIFY(QFile::exists(certificate));
    Child dunmir;
    QVERIFY(dunmir.Start(DUNMIR_PATH, {"debug"}, service));
    QTRY_VERIFY_WITH_TIMEOUT(qv::testing::UdpPortIsTaken(udpPort), 10000);
    for (const std::string& message : kEarlier) SendDatagram(udpPort, message);

    const int display = 90 + static_cast<int>(QRandomGenerator::system()->bounded(300));
    const QString displayName = QString(":%1").arg(display);
    const QString authority = QString::fromStdString(viewerHome.file("xauthority"));
    const QString cookie = QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0') +
                           QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    QCOMPARE(QProcess::execute(xauth, {"-q", "-f", authority, "add", displayName, ".", cookie}), 0);
    QProcessEnvironment viewer = QProcessEnvironment::systemEnvironment();
    viewer.insert("XAUTHORITY", authority);
    viewer.insert("DISPLAY", displayName);
    viewer.insert("QUORVEL_HOME", QString::fromStdString(viewerHome.path().string()));
    viewer.insert("QT_QPA_PLATFORM", "xcb");
    viewer.remove("WAYLAND_DISPLAY");
    // The viewer's own port is another one: what it shows can only have come over the link.
    QVERIFY(Qvreg(viewer, {"set", kSettings, "udpport", "dword", QString::number(qv::testing::FreeUdpPort())}));
    QVERIFY(Qvreg(viewer, {"set", kSettings, "FirstTime", "dword", "0"}));

    Child server;
    QVERIFY(server.Start(xvfb, {displayName, "-screen", "0", QString("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight),
                                "-nolisten", "tcp", "-auth", authority},
                         viewer));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)), 10000);
    Child quorvel;
    QVERIFY(quorvel.Start(QUORVEL_PATH, {"--connect", QString("127.0.0.1:%1").arg(viewerPort), "--cert", certificate},
                          viewer));
    QTest::qWait(3000);  // up, connected, backfill shown
    QVERIFY(quorvel.Running());
    for (const std::string& message : kLive) SendDatagram(udpPort, message);
    QTest::qWait(1500);

    const QString folder = QString(SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString screen = folder + "/quorvel-remote-screen.png";
    QFile::remove(screen);
    QProcess grabber;
    grabber.setProcessEnvironment(viewer);
    grabber.start(QCoreApplication::applicationFilePath(), {"--grab", screen});
    QVERIFY(grabber.waitForFinished(20000));
    QCOMPARE(grabber.exitCode(), 0);
    QImage image(screen);
    QVERIFY(!image.isNull());
    image = image.convertToFormat(QImage::Format_RGB32);
    const QImage main = image.copy(kScreenWidth / 8, kScreenHeight / 8, kScreenWidth * 3 / 4, kScreenHeight * 3 / 4);
    QVERIFY(main.save(folder + "/quorvel-remote.png"));
    // Emergency (backfill) and Warning (live) rows in their default colours.
    QVERIFY(CountColour(main, qRgb(255, 0, 0)) > 200);
    QVERIFY(CountColour(main, qRgb(255, 255, 192)) > 200);
    quorvel.Stop();
    server.Stop();
    dunmir.Stop();
  }
};

}  // namespace qv

int main(int argc, char* argv[]) {
  if (argc == 3 && std::string(argv[1]) == "--grab") {
    QGuiApplication application(argc, argv);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    return !screen.isNull() && screen.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
  }
  QCoreApplication application(argc, argv);
  qv::RemoteXvfbTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "remote_xvfb_test.moc"
