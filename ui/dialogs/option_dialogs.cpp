#include "ui/dialogs/option_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "core/message/names.h"
#include "ui/dialogs/tool_tips.h"
#include "ui/dialogs/user_prompts.h"
#include "ui/editors/test_mail.h"

namespace qv {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QLineEdit* edit) { return edit->text().toStdString(); }

QLineEdit* NumberEdit(const char* objectName) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setMaximumWidth(110);
  return edit;
}

QCheckBox* Check(const char* caption, const char* objectName) {
  auto* box = new QCheckBox(QString::fromLatin1(caption));
  box->setObjectName(QString::fromLatin1(objectName));
  return box;
}

QPushButton* Button(const char* caption, const char* objectName) {
  auto* button = new QPushButton(QString::fromLatin1(caption));
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoDefault(false);
  return button;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

CPreferencesDialog::CPreferencesDialog(CUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), fields_(CPreferences::Load()) {
  setWindowTitle(QStringLiteral("Preferences"));

  maxsize_ = NumberEdit("maxsize");
  dblclick_ = new QComboBox;
  dblclick_->setObjectName(QStringLiteral("dblclick"));
  dblclick_->addItems({QStringLiteral("Browser"), QStringLiteral("Telnet"), QStringLiteral("Find")});
  resolve_ = Check("Determine hostname from IP Address when not supplied", "resolve");
  resolvetextip_ = Check("Replace IP Addresses with hostname in full text window", "resolvetextip");
  timeutc_ = Check("Show times as UTC", "timeutc");
  auto* viewing = new QGroupBox(QStringLiteral("Viewing Messages"));
  auto* viewingForm = new QFormLayout(viewing);
  viewingForm->addRow(QStringLiteral("Maximum number of entries shown"), maxsize_);
  viewingForm->addRow(QStringLiteral("Double Click Action"), dblclick_);
  viewingForm->addRow(resolve_);
  viewingForm->addRow(resolvetextip_);
  viewingForm->addRow(timeutc_);

  udpport_ = NumberEdit("udpport");
  auto* defaultPort = Button("Default", "defaultPort");
  timemark_ = NumberEdit("timemark");
  auto* server = new QGroupBox(QStringLiteral("Syslog Server"));
  auto* serverForm = new QFormLayout(server);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(udpport_);
  portRow->addWidget(defaultPort);
  portRow->addStretch();
  serverForm->addRow(QStringLiteral("Syslog server port"), portRow);
  serverForm->addRow(QStringLiteral("Time Mark (Minutes)"), timemark_);

  historysize_ = NumberEdit("historysize");
  loadhistory_ = Check("Load history when program starts", "loadhistory");
  auto* history = new QGroupBox(QStringLiteral("History"));
  auto* historyForm = new QFormLayout(history);
  historyForm->addRow(QStringLiteral("History size (KB)"), historysize_);
  historyForm->addRow(loadhistory_);

  msgboxtime_ = NumberEdit("msgboxtime");
  startHidden_ = Check("Start Hidden", "startHidden");
  startserver_ = Check("Server runs when program starts", "startserver");
  promptforsave_ = Check("Prompt to save modified log", "promptforsave");
  maildebug_ = Check("Log Mail Debug", "maildebug");
  auto* misc = new QGroupBox(QStringLiteral("Miscellaneous"));
  auto* miscForm = new QFormLayout(misc);
  miscForm->addRow(QStringLiteral("Time Message Box Timeout (Seconds)"), msgboxtime_);
  for (QCheckBox* box : {startHidden_, startserver_, promptforsave_, maildebug_}) miscForm->addRow(box);

  severity_ = new QComboBox;
  severity_->setObjectName(QStringLiteral("severity"));
  for (const char* name : kSeverityListNames) severity_->addItem(QString::fromLatin1(name));
  severity_->setCurrentIndex(-1);
  swatch_ = new QFrame;
  swatch_->setObjectName(QStringLiteral("swatch"));
  swatch_->setFrameShape(QFrame::Box);
  swatch_->setMinimumSize(60, 24);
  swatch_->setAutoFillBackground(true);
  auto* setColour = Button("Set Color", "setColour");
  auto* resetColour = Button("Reset Color", "resetColour");
  auto* colours = new QGroupBox(QStringLiteral("Colors"));
  auto* coloursLayout = new QHBoxLayout(colours);
  coloursLayout->addWidget(severity_, 1);
  coloursLayout->addWidget(swatch_);
  coloursLayout->addWidget(setColour);
  coloursLayout->addWidget(resetColour);

  auto* general = new QWidget;
  auto* grid = new QGridLayout(general);
  grid->addWidget(viewing, 0, 0);
  grid->addWidget(server, 0, 1, Qt::AlignTop);
  grid->addWidget(misc, 1, 0);
  grid->addWidget(colours, 1, 1, Qt::AlignTop);
  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("pages"));
  tabs_->addTab(general, QStringLiteral("General"));
  tabs_->addTab(BuildReceptionPage(history), QStringLiteral("Reception"));
  tabs_->addTab(BuildLinksPage(), QStringLiteral("Forwarding and Viewers"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(OkCancel(this));

  maxsize_->setText(Q(fields_.maxsize));
  dblclick_->setCurrentIndex(fields_.dblclick);
  resolve_->setChecked(fields_.resolve);
  resolvetextip_->setChecked(fields_.resolvetextip);
  timeutc_->setChecked(fields_.timeutc);
  udpport_->setText(Q(fields_.udpport));
  timemark_->setText(Q(fields_.timemark));
  historysize_->setText(Q(fields_.historysize));
  loadhistory_->setChecked(fields_.loadhistory);
  msgboxtime_->setText(Q(fields_.msgboxtime));
  startHidden_->setChecked(fields_.startHidden);
  startserver_->setChecked(fields_.startserver);
  promptforsave_->setChecked(fields_.promptforsave);
  maildebug_->setChecked(fields_.maildebug);
  ShowReception(fields_.reception);
  ShowSwatch(CSeverityColours::Get(0));

  connect(defaultPort, &QPushButton::clicked, this, [this] { udpport_->setText(QString::fromLatin1(kDefaultPortText)); });
  connect(timeutc_, &QCheckBox::clicked, this, [this] { coloursChanged_ = true; });
  connect(severity_, &QComboBox::currentIndexChanged, this, &CPreferencesDialog::OnSeverityChosen);
  connect(setColour, &QPushButton::clicked, this, &CPreferencesDialog::OnSetColour);
  connect(resetColour, &QPushButton::clicked, this, &CPreferencesDialog::OnResetColour);
  SetToolTips({
      {maxsize_, "The most messages held in memory and shown (1 to 10000000); the oldest give way. Takes effect "
                 "the next time the list is emptied."},
      {dblclick_, "What a double-click on a message does: open its sender in the browser, telnet to it, or find "
                  "messages like it."},
      {resolve_, "Look up a host name from the sender's address when the message has none."},
      {resolvetextip_, "Replace addresses by host names in the full-text window."},
      {timeutc_, "Show the times messages were received as UTC instead of local time."},
      {udpport_, "The UDP port on which syslog is received and to which local findings are sent (1 to 32767; "
                 "514 is the standard). Taken up at once: listening and the service restart."},
      {defaultPort, "Put the standard syslog port 514 into the port field."},
      {timemark_, "Minutes between \"-----Time Mark-----\" messages (0 to 60000); 0 means none."},
      {historysize_, "The size of the two history files together, in kilobytes; the older file is emptied when "
                     "the newer one is full. 0 keeps no history."},
      {loadhistory_, "Load the history into the list when the program starts."},
      {msgboxtime_, "Seconds after which the message box of a rule's \"Message Box\" action closes by itself "
                    "(0 to 32767); 0 keeps it open until it is closed."},
      {startHidden_, "Start hidden in the notification area, and hide the window when it is minimised."},
      {startserver_, "Start listening for syslog messages when the program starts."},
      {promptforsave_, "Ask to save a modified message log on closing."},
      {maildebug_, "Log the conversation with the mail server as local messages."},
      {severity_, "The severity whose list colour Set Color and Reset Color change."},
      {swatch_, "The chosen severity's colour in the message list."},
      {setColour, "Choose the selected severity's colour. It is stored at once, and kept even when the dialog "
                  "is cancelled."},
      {resetColour, "Give the selected severity its default colour again, stored at once."},
  });
}

QWidget* CPreferencesDialog::BuildReceptionPage(QWidget* history) {
  rfc5424_ = Check("Read RFC 5424 headers", "rfc5424");
  rfc5424sd_ = Check("Show all of RFC 5424's structured data, before the text", "rfc5424sd");
  lenient_ = Check("Read the header forms real devices send (lenient)", "lenient");
  yearfix_ = Check("Place a time stamp without a year within half a year of its arrival", "yearfix");
  auto* forms = new QGroupBox(QStringLiteral("Message Headers"));
  auto* formsLayout = new QVBoxLayout(forms);
  for (QCheckBox* box : {rfc5424_, rfc5424sd_, lenient_, yearfix_}) formsLayout->addWidget(box);

  ipv6_ = Check("Receive over IPv6 too (UDP, TCP and TLS)", "ipv6");
  tcpport_ = NumberEdit("tcpport");
  tcpmaxconn_ = NumberEdit("tcpmaxconn");
  tlsport_ = NumberEdit("tlsport");
  auto* servers = new QGroupBox(QStringLiteral("TCP and TLS"));
  auto* serversForm = new QFormLayout(servers);
  serversForm->addRow(ipv6_);
  serversForm->addRow(QStringLiteral("TCP port (0: off)"), tcpport_);
  serversForm->addRow(QStringLiteral("Most connections open at once"), tcpmaxconn_);
  serversForm->addRow(QStringLiteral("TLS port (0: off)"), tlsport_);
  tlscert_ = PemRow(serversForm, "Certificate", "tlscert", "TLS Certificate");
  tlskey_ = PemRow(serversForm, "Private key", "tlskey", "TLS Private Key");
  tlsca_ = PemRow(serversForm, "Client authorities", "tlsca", "TLS Client Certificate Authorities");

  SetToolTips({
      {rfc5424_, "Read the RFC 5424 header (\"<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID ...\"). Off: such "
                 "a header stays in the message text."},
      {rfc5424sd_, "Show an RFC 5424 message's structured data in full, before the text. Off: only elements other "
                   "than timeQuality, origin and meta are shown, after the text."},
      {lenient_, "Read the looser headers real devices send: sequence numbers, Cisco's stamp marks, milliseconds, "
                 "a year in the stamp, RFC 3339 stamps. Off: only the strict forms are read."},
      {yearfix_, "Give a time stamp without a year the year that puts it nearest to its arrival, so that "
                 "messages sent around New Year get the right year."},
      {ipv6_, "Receive syslog over IPv6 as well as IPv4, on the UDP port and on the TCP and TLS ports."},
      {tcpport_, "Receive syslog over TCP (RFC 6587 framing) on this port (1 to 65535; 601 is usual); 0 "
                 "switches TCP off."},
      {tcpmaxconn_, "The most connections open at once on each of TCP and TLS (1 to 1000000). When all are in "
                    "use, the one silent for longest makes room."},
      {tlsport_, "Receive syslog over TLS (RFC 5425) on this port (1 to 65535; 6514 is usual); 0 switches TLS "
                 "off. It needs a certificate and a private key."},
      {tlscert_, "The server's certificate in a PEM file, with any intermediate certificates after it."},
      {tlskey_, "The private key of the certificate, in a PEM file that the service can read."},
      {tlsca_, "Optional: the certificates of the authorities, in a PEM file, whose clients may send. When set, "
               "every client must show a certificate one of them signed."},
  });

  auto* page = new QWidget;
  auto* layout = new QGridLayout(page);
  layout->addWidget(forms, 0, 0);
  layout->addWidget(history, 0, 1, Qt::AlignTop);
  layout->addWidget(servers, 1, 0, 1, 2);
  layout->setRowStretch(2, 1);
  return page;
}

QLineEdit* CPreferencesDialog::PemRow(QFormLayout* form, const char* label, const char* objectName, const char* title) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(objectName));
  edit->setMinimumWidth(300);
  auto* choose = Button("...", (std::string(objectName) + "Choose").c_str());
  choose->setMaximumWidth(40);
  connect(choose, &QPushButton::clicked, this, [this, edit, title] {
    const QString file = prompts_.ChooseExistingFile(this, QString::fromLatin1(title), edit->text(), FileKind::kPem);
    if (!file.isEmpty()) edit->setText(file);
  });
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(choose);
  form->addRow(QString::fromLatin1(label), row);
  choose->setToolTip(QStringLiteral("Choose the file with the file chooser."));
  return edit;
}

QWidget* CPreferencesDialog::BuildLinksPage() {
  forwardqueue_ = NumberEdit("forwardqueue");
  auto* forwarding = new QGroupBox(QStringLiteral("Forwarding to tcp:// and tls:// Servers"));
  auto* forwardingForm = new QFormLayout(forwarding);
  forwardingForm->addRow(QStringLiteral("Queue per server (MiB)"), forwardqueue_);
  forwardca_ = PemRow(forwardingForm, "Server authorities", "forwardca", "Authorities of the Servers Forwarded To");
  forwardcert_ = PemRow(forwardingForm, "Client certificate", "forwardcert", "Client Certificate for Forwarding");
  forwardkey_ = PemRow(forwardingForm, "Client private key", "forwardkey", "Private Key for Forwarding");

  viewerport_ = NumberEdit("viewerport");
  auto* viewers = new QGroupBox(QStringLiteral("Remote Viewers of the Service"));
  auto* viewersForm = new QFormLayout(viewers);
  viewersForm->addRow(QStringLiteral("Port (0: off)"), viewerport_);
  viewercert_ = PemRow(viewersForm, "Certificate", "viewercert", "The Service's Certificate for Viewers");
  viewerkey_ = PemRow(viewersForm, "Private key", "viewerkey", "The Service's Private Key for Viewers");
  viewerca_ = PemRow(viewersForm, "Viewers' authority", "viewerca", "Authority of the Viewers' Certificates");

  SetToolTips({
      {forwardqueue_, "Megabytes of messages (1 to 65536) that wait, in order, for each tcp:// or tls:// server "
                      "while it cannot be reached; beyond them the oldest are dropped, counted and reported."},
      {forwardca_, "Optional: the certificates, in a PEM file, of the authorities that signed the tls:// servers' "
                   "certificates. Empty: the system's authorities."},
      {forwardcert_, "Optional: a client certificate in a PEM file, shown to tls:// servers that ask for one. "
                     "The file may hold its private key too."},
      {forwardkey_, "The private key of the client certificate, in a PEM file that the service can read. Empty: "
                    "the key is in the certificate's file."},
      {viewerport_, "The TCP port on which the service serves remote viewers over TLS (1 to 65535); 0 switches "
                    "them off. Viewers connect with File > Connect to Server."},
      {viewercert_, "Optional: the service's certificate for viewers, in a PEM file. Empty: the service makes its "
                    "own, signed by the viewers' authority, which viewers then trust without a further step."},
      {viewerkey_, "The private key of the service's certificate, in a PEM file that the service can read."},
      {viewerca_, "Optional: the authority, in a PEM file, whose client certificates are accepted. Empty: the "
                  "authority in the data root, which signs the files `qvreg viewer-cert NAME` makes."},
  });

  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(forwarding);
  layout->addWidget(viewers);
  layout->addStretch(1);
  return page;
}

void CPreferencesDialog::ShowReception(const ReceptionFields& f) {
  rfc5424_->setChecked(f.rfc5424);
  rfc5424sd_->setChecked(f.rfc5424sd);
  lenient_->setChecked(f.lenient);
  yearfix_->setChecked(f.yearfix);
  ipv6_->setChecked(f.ipv6);
  tcpport_->setText(Q(f.tcpport));
  tcpmaxconn_->setText(Q(f.tcpmaxconn));
  tlsport_->setText(Q(f.tlsport));
  tlscert_->setText(Q(f.tlscert));
  tlskey_->setText(Q(f.tlskey));
  tlsca_->setText(Q(f.tlsca));
  forwardqueue_->setText(Q(f.forwardqueue));
  forwardca_->setText(Q(f.forwardca));
  forwardcert_->setText(Q(f.forwardcert));
  forwardkey_->setText(Q(f.forwardkey));
  viewerport_->setText(Q(f.viewerport));
  viewercert_->setText(Q(f.viewercert));
  viewerkey_->setText(Q(f.viewerkey));
  viewerca_->setText(Q(f.viewerca));
}

ReceptionFields CPreferencesDialog::TypedReception() const {
  ReceptionFields f;
  f.rfc5424 = rfc5424_->isChecked();
  f.rfc5424sd = rfc5424sd_->isChecked();
  f.lenient = lenient_->isChecked();
  f.yearfix = yearfix_->isChecked();
  f.ipv6 = ipv6_->isChecked();
  f.tcpport = S(tcpport_);
  f.tcpmaxconn = S(tcpmaxconn_);
  f.tlsport = S(tlsport_);
  f.tlscert = S(tlscert_);
  f.tlskey = S(tlskey_);
  f.tlsca = S(tlsca_);
  f.forwardqueue = S(forwardqueue_);
  f.forwardca = S(forwardca_);
  f.forwardcert = S(forwardcert_);
  f.forwardkey = S(forwardkey_);
  f.viewerport = S(viewerport_);
  f.viewercert = S(viewercert_);
  f.viewerkey = S(viewerkey_);
  f.viewerca = S(viewerca_);
  return f;
}

void CPreferencesDialog::ShowSwatch(uint32_t colour) {
  QPalette palette = swatch_->palette();
  palette.setColor(QPalette::Window, ColourFromSetting(colour));
  swatch_->setPalette(palette);
}

void CPreferencesDialog::OnSeverityChosen(int severity) {
  if (severity >= 0) ShowSwatch(CSeverityColours::Get(severity));
}

void CPreferencesDialog::OnSetColour() {
  const int severity = severity_->currentIndex();
  const QColor initial = severity >= 0 ? ColourFromSetting(CSeverityColours::Get(severity)) : QColor(Qt::red);
  const std::optional<QColor> chosen = prompts_.ChooseColour(this, initial);
  if (!chosen) return;
  const uint32_t colour = SettingFromColour(*chosen);
  if (severity >= 0) CSeverityColours::Set(severity, colour);
  ShowSwatch(colour);
  coloursChanged_ = true;
}

void CPreferencesDialog::OnResetColour() {
  const int severity = severity_->currentIndex();
  if (severity < 0) return;
  ShowSwatch(CSeverityColours::Reset(severity));
  coloursChanged_ = true;
}

void CPreferencesDialog::accept() {
  PreferencesFields typed;
  typed.maxsize = S(maxsize_);
  typed.udpport = S(udpport_);
  typed.timemark = S(timemark_);
  typed.historysize = S(historysize_);
  typed.msgboxtime = S(msgboxtime_);
  typed.dblclick = dblclick_->currentIndex();
  typed.resolve = resolve_->isChecked();
  typed.resolvetextip = resolvetextip_->isChecked();
  typed.timeutc = timeutc_->isChecked();
  typed.loadhistory = loadhistory_->isChecked();
  typed.startHidden = startHidden_->isChecked();
  typed.startserver = startserver_->isChecked();
  typed.promptforsave = promptforsave_->isChecked();
  typed.maildebug = maildebug_->isChecked();
  typed.reception = TypedReception();
  if (const auto error = CPreferences::Save(typed)) {
    prompts_.Refuse(this, Q(error->message));
    QLineEdit* const edits[] = {maxsize_,      udpport_,     timemark_,   historysize_, msgboxtime_,
                                tcpport_,      tcpmaxconn_,  tlsport_,    tlscert_,     tlskey_,
                                forwardqueue_, forwardcert_, forwardkey_, viewerport_,  viewercert_,
                                viewerkey_};
    QLineEdit* edit = edits[static_cast<int>(error->field)];
    for (int page = 0; page < tabs_->count(); ++page) {
      if (tabs_->widget(page)->isAncestorOf(edit)) tabs_->setCurrentIndex(page);
    }
    edit->setFocus();
    edit->selectAll();
    return;
  }
  fields_ = typed;
  QDialog::accept();
}

CEmailSettingsDialog::CEmailSettingsDialog(CUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), testMail_(std::make_unique<CTestMail>()) {
  setWindowTitle(QStringLiteral("Email Settings"));
  auto* form = new QFormLayout;
  const auto field = [form](const char* label, const char* objectName) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setMinimumWidth(280);
    form->addRow(QString::fromLatin1(label), edit);
    return edit;
  };
  server_ = field("SMTP Server", "server");
  port_ = field("Port", "port");
  port_->setMinimumWidth(0);
  port_->setMaximumWidth(110);
  security_ = new QComboBox;
  security_->setObjectName(QStringLiteral("security"));
  security_->addItems({QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("TLS (port 465)")});
  form->addRow(QStringLiteral("Security"), security_);
  user_ = field("User Name", "user");
  password_ = field("Password", "password");
  password_->setEchoMode(QLineEdit::Password);
  verify_ = Check("Check the server's certificate", "verify");
  form->addRow(verify_);
  from_ = field("From Address", "from");
  domain_ = field("Mail Domain", "domain");
  subject_ = field("Subject", "subject");
  text_ = field("Text", "text");
  text_->setMinimumWidth(420);
  include_ = Check("Include Syslog Message", "include");
  form->addRow(include_);

  testRecipient_ = new QLineEdit;
  testRecipient_->setObjectName(QStringLiteral("testRecipient"));
  testRecipient_->setPlaceholderText(QStringLiteral("the From Address"));
  sendTest_ = Button("Send Test Mail", "sendTest");
  auto* testRow = new QHBoxLayout;
  testRow->addWidget(testRecipient_, 1);
  testRow->addWidget(sendTest_);
  form->addRow(QStringLiteral("Test Recipient"), testRow);
  testResult_ = new QLabel;
  testResult_->setObjectName(QStringLiteral("testResult"));
  testResult_->setWordWrap(true);
  testResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  testResult_->setMinimumHeight(testResult_->fontMetrics().lineSpacing() * 3);  // the dialog keeps its size
  testResult_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  form->addRow(testResult_);
  testTimer_ = new QTimer(this);
  testTimer_->setInterval(100);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(OkCancel(this));

  SetToolTips({{server_, "The SMTP server through which rules send mail: a host name or address."},
               {port_, "The mail server's port: 25 for mail between servers, 587 for submission with STARTTLS, "
                       "465 for TLS from the first byte."},
               {security_, "How the mail is protected on its way to the server. A server that does not offer "
                           "STARTTLS when it is chosen fails the mail; it is never sent in plain text instead."},
               {user_, "The login at the mail server (AUTH PLAIN or LOGIN); empty for a server that needs none. "
                       "It is sent only with STARTTLS or TLS."},
               {password_, "The password of the login. It is kept in the settings store only, never in a log, "
                           "a mail debug line or the settings export."},
               {verify_, "The server's certificate must be trusted by this computer's CA store and made out to "
                         "the SMTP Server's name or address. Switch it off only for a server you know."},
               {testRecipient_, "Where the test mail goes; empty: to the From Address."},
               {sendTest_, "Sends one mail with the values above, stored or not, and shows the server's last "
                           "reply below."},
               {from_, "The sender address of the rules' mails."},
               {domain_, "The domain this computer announces in its greeting to the mail server."},
               {subject_, "The subject a new e-mail rule starts with."},
               {text_, "The text a new e-mail rule starts with."},
               {include_, "Whether mails include the syslog message that fired the rule; each e-mail rule has "
                          "its own box under \"Advanced\"."}});

  const EmailSettings settings = EmailSettings::Load();
  server_->setText(Q(settings.server));
  port_->setText(Q(settings.port));
  security_->setCurrentIndex(settings.security >= kMailPlain && settings.security <= kMailTls ? settings.security : 0);
  user_->setText(Q(settings.user));
  password_->setText(Q(settings.password));
  verify_->setChecked(settings.verify);
  from_->setText(Q(settings.from));
  domain_->setText(Q(settings.domain));
  subject_->setText(Q(settings.subject));
  text_->setText(Q(settings.text));
  include_->setChecked(settings.include);

  connect(security_, &QComboBox::activated, this, &CEmailSettingsDialog::OnSecurityChosen);
  connect(sendTest_, &QPushButton::clicked, this, &CEmailSettingsDialog::OnSendTestMail);
  connect(testTimer_, &QTimer::timeout, this, &CEmailSettingsDialog::OnTestMailTick);
}

CEmailSettingsDialog::~CEmailSettingsDialog() = default;

std::optional<EmailSettings> CEmailSettingsDialog::Typed() {
  EmailSettings typed;
  typed.server = S(server_);
  typed.from = S(from_);
  typed.domain = S(domain_);
  typed.subject = S(subject_);
  typed.text = S(text_);
  typed.include = include_->isChecked();
  typed.port = S(port_);
  typed.security = security_->currentIndex();
  typed.user = S(user_);
  typed.password = S(password_);
  typed.verify = verify_->isChecked();
  MailSettings mail;
  if (const auto error = typed.Read(mail)) {
    prompts_.Refuse(this, Q(error->message));
    port_->setFocus();
    port_->selectAll();
    return std::nullopt;
  }
  return typed;
}

void CEmailSettingsDialog::OnSecurityChosen(int security) {
  port_->setText(Q(SuggestedMailPort(S(port_), security)));
}

void CEmailSettingsDialog::OnSendTestMail() {
  const std::optional<EmailSettings> typed = Typed();
  MailSettings mail;
  if (!typed || typed->Read(mail)) return;
  if (!testMail_->Start(mail, S(testRecipient_))) return;
  sendTest_->setEnabled(false);
  testResult_->setText(QStringLiteral("Sending the test mail..."));
  testTimer_->start();
}

void CEmailSettingsDialog::OnTestMailTick() {
  const std::optional<CTestMail::Outcome> outcome = testMail_->Take();
  if (!outcome) return;
  testTimer_->stop();
  sendTest_->setEnabled(true);
  testResult_->setText(Q(outcome->text));
}

void CEmailSettingsDialog::accept() {
  const std::optional<EmailSettings> typed = Typed();
  if (!typed || typed->Save()) return;
  QDialog::accept();
}

}  // namespace qv
