#include "BenchSupport.h"

#include "RegistrySettingsUnit.h"

#include <QDateTime>
#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

namespace bench {

namespace {

// Display names, some in encoded words, as mail clients write them.
const char *const kSenders[] = {
    "\"Jürgen Müller\"", "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=", "Anna Berger", "Newsletter Team",
    "=?ISO-8859-1?Q?B=FCro_K=F6ln?=", "Deutsche Paketdienst Info", "\"Dr. Klaus Weiß\"", "Support",
    "=?UTF-8?B?U3DDpHRlciBLYXVmZW4=?=", "Kundenservice", "", "Marketing Abteilung",
};
const char *const kSenderDomains[] = {
    "example.org", "mail.example.net", "newsletter.example.com", "shop.example.de", "spammer.example",
    "bounces.example.info",
};
const char *const kSubjects[] = {
    "Re: Termin am Donnerstag",
    "=?UTF-8?Q?Ihre_Bestellung_ist_unterwegs_=E2=80=93_Sendungsnummer?=",
    "Protokoll der Sitzung vom Montag",
    "GEWONNEN! Holen Sie sich Ihren Preis ab",
    "=?UTF-8?B?w4RuZGVydW5nIElocmVyIFpldWdhbmdzZGF0ZW4=?=",
    "Fwd: Urlaubsfotos",
    "Rechnung Nr. 2024-0815",
    "Cheap V1agra and more - limited offer",
    "AW: Frage zur Abrechnung",
    "Einladung zum Webinar: Neuigkeiten im Oktober",
    "[liste] Diskussion: Umzug des Servers",
    "Sie haben eine neue Nachricht",
};
const char *const kMailers[] = {
    "Microsoft Outlook 16.0", "Mozilla Thunderbird", "Apple Mail (2.3654)", "PHPMailer 6.8.0",
    "Roundcube Webmail/1.6.5", "",
};
const char *const kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Words of subject rules and sender fragments of header rules, combined with a number so that every
// rule is distinct (a real rule list grows one spam wave at a time).
const char *const kRuleWords[] = {"gewonnen", "v1agra", "casino", "kredit", "rolex", "lottery",
                                  "abnehmen", "bitcoin", "dating", "replica", "gratis", "investment"};
const char *const kRuleFields[] = {"From", "Received", "Return-Path", "X-Mailer", "Reply-To", "List-Unsubscribe"};

// What the rules of MixedRules look at, in turn: subject rules, the joined Received lines, the first
// Received line alone, fields every message has, and fields many messages lack.
struct RuleTarget {
    TFilterKind kind;
    const char *field;
    const char *format; // %1 a word of kRuleWords, %2 the rule's number
};
const RuleTarget kRuleTargets[] = {
    {fkSubject, "", "%1 %2"},
    {fkHeaderField, "Received", "mx.%1-%2.example"},
    {fkSubject, "", "%1%2"},
    {fkHeaderField, "From", "%1-%2.example"},
    {fkHeaderField, "Received", "[198.51.100.%2]"},
    {fkSubject, "", "Ihr %1 Nr. %2"},
    {fkHeaderField, "received", "by %1%2.example"},
    {fkHeaderField, "X-Mailer", "%1 Mailer %2"},
    {fkHeaderField, "Return-Path", "bounce@%1-%2.example"},
    {fkHeaderField, "Subject", "=?UTF-8?B?%1%2?="},
    {fkHeaderField, "List-Unsubscribe", "%1-%2.example/unsubscribe"},
    {fkHeaderField, "Reply-To", "%1@%1-%2.example"},
};

// Texts that occur in most sample messages but do not satisfy the operation, so that the comparison
// goes past the search: a subject that only begins with the text, a word run into more letters, a text
// that occurs but not at the end or the beginning.
struct NearMiss {
    TFilterKind kind;
    const char *field;
    TFilterOperation operation;
    const char *text;
};
const NearMiss kNearMisses[] = {
    {fkSubject, "", foEquals, "Rechnung"},
    {fkHeaderField, "Received", foContainsWord, "mail.example"},
    {fkHeaderField, "Return-Path", foEndsWith, "example"},
    {fkHeaderField, "X-Mailer", foBeginsWith, "Outlook"},
    {fkSubject, "", foContainsWord, "Sitz"},
    {fkHeaderField, "Received", foEndsWith, "Postfix"},
    {fkHeaderField, "From", foEquals, "Support"},
    {fkHeaderField, "received", foBeginsWith, "by mail"},
};

QByteArray base64Line(std::mt19937 &rng, int length)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray s(length, 'A');
    for (char &c : s)
        c = alphabet[rng() % 64];
    return s;
}

QByteArray rfc2822Date(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime tm = t.time();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d +0100", kWeekdays[d.dayOfWeek() - 1], d.day(),
                  kMonths[d.month() - 1], d.year(), tm.hour(), tm.minute(), tm.second());
    return buf;
}

qint64 statusField(const QByteArray &status, const char *field)
{
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(key)) {
            QByteArray v = line.mid(key.size()).trimmed();
            const int blank = v.indexOf(' ');
            if (blank > 0)
                v.truncate(blank);
            bool ok = false;
            const qint64 n = v.toLongLong(&ok);
            return ok ? n : -1;
        }
    }
    return -1;
}

} // namespace

SampleMail::SampleMail(uint32_t seed) : m_rng(seed) {}

int SampleMail::pick(int count)
{
    return int(m_rng() % uint32_t(count));
}

QByteArray SampleMail::HeaderBlock(int n)
{
    const QByteArray name = kSenders[pick(std::size(kSenders))];
    const QByteArray domain = kSenderDomains[pick(std::size(kSenderDomains))];
    const QByteArray local = QByteArray("absender") + QByteArray::number(pick(500));
    const QByteArray address = local + '@' + domain;
    const QDateTime date = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(m_rng() % (365u * 86400u)));
    const QByteArray when = rfc2822Date(date);
    const QByteArray relay = QByteArray("192.0.2.") + QByteArray::number(1 + pick(254));
    const QByteArray id = base64Line(m_rng, 12).replace('+', 'x').replace('/', 'y');

    QByteArray h;
    h += "Return-Path: <bounce-" + QByteArray::number(n) + '@' + domain + ">\r\n";
    h += "Delivered-To: anna@example.org\r\n";
    h += "Received: from mx." + domain + " (mx." + domain + " [" + relay + "])\r\n"
         "\tby mail.example.org (Postfix) with ESMTPS id " + id + "\r\n"
         "\tfor <anna@example.org>; " + when + "\r\n";
    h += "Received: from localhost (localhost [127.0.0.1])\r\n"
         "\tby mx." + domain + " (Postfix) with ESMTP id " + id.left(8) + ";\r\n"
         "\t" + when + "\r\n";
    h += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=" + domain + "; s=2024;\r\n"
         "\th=from:to:subject:date:message-id:mime-version:content-type;\r\n"
         "\tbh=" + base64Line(m_rng, 44) + ";\r\n"
         "\tb=" + base64Line(m_rng, 70) + "\r\n"
         "\t " + base64Line(m_rng, 70) + "\r\n"
         "\t " + base64Line(m_rng, 60) + "\r\n";
    h += name.isEmpty() ? "From: " + address + "\r\n" : "From: " + name + " <" + address + ">\r\n";
    if (pick(20) != 0) // now and then a message without a To line ("Unbekannt" in the list)
        h += "To: Anna Berger <anna@example.org>\r\n";
    if (pick(4) == 0)
        h += "Cc: bernd@example.org, \"Carla Nowak\" <carla@example.org>\r\n";
    h += "Subject: " + QByteArray(kSubjects[pick(std::size(kSubjects))]) + "\r\n";
    h += "Date: " + when + "\r\n";
    h += "Message-ID: <" + QByteArray::number(n) + '.' + id + '@' + domain + ">\r\n";
    h += "MIME-Version: 1.0\r\n";
    h += "Content-Type: multipart/alternative;\r\n\tboundary=\"----=_Part_" + QByteArray::number(n) + "_" + id + "\"\r\n";
    const QByteArray mailer = kMailers[pick(std::size(kMailers))];
    if (!mailer.isEmpty())
        h += "X-Mailer: " + mailer + "\r\n";
    if (pick(3) == 0)
        h += "List-Unsubscribe: <mailto:unsubscribe@" + domain + "?subject=unsubscribe>,\r\n"
             "\t<https://" + domain + "/unsubscribe?id=" + id + ">\r\n";
    h += "X-Spam-Score: " + QByteArray::number(pick(90) / 10.0, 'f', 1) + "\r\n";
    return h;
}

QByteArray SampleMail::Message(int n)
{
    QByteArray m = HeaderBlock(n);
    // The header says multipart; keep the body a single text part so the sample stays short.
    m.replace("Content-Type: multipart/alternative;", "Content-Type: text/plain; charset=utf-8;");
    m += "\r\nHallo Anna,\r\n\r\nhier die Nachricht Nummer " + QByteArray::number(n) +
         ".\r\n\r\nViele Grüße\r\n";
    return m;
}

int32_t SampleMail::Size()
{
    // Three out of four messages a few KB, most of the rest up to 200 KB, a few attachments up to 8 MB.
    const int kind = pick(20);
    if (kind < 15)
        return 1500 + pick(12000);
    if (kind < 19)
        return 20000 + pick(200000);
    return 300000 + int32_t(m_rng() % 8000000u);
}

void FillSampleEntries(std::deque<TMailEntry> &entries, int count)
{
    SampleMail sample;
    const QString hosts[] = {QStringLiteral("pop.example.org"), QStringLiteral("pop3.example.net")};
    for (int n = 1; n <= count; ++n) {
        TMailEntry &e = entries.emplace_back();
        e.Message.FillFromHeader(sample.HeaderBlock(n));
        e.Host = hosts[n % 2];
        e.UserName = n % 2 ? QStringLiteral("anna") : QStringLiteral("anna.berger");
        e.MsgNumber = n;
        e.Size = sample.Size();
    }
}

TPOP3Accounts SampleAccounts(int count, quint16 port)
{
    TPOP3Accounts accounts;
    for (int i = 0; i < count; ++i) {
        TPOP3AccountSettings a;
        a.Active = true;
        a.ServerName = QStringLiteral("127.0.0.1");
        a.Port = port;
        a.AccountName = QStringLiteral("konto%1").arg(i + 1);
        a.Password = QStringLiteral("kennwort-%1").arg(i + 1);
        a.SMTPEMailAddress = QStringLiteral("konto%1@example.org").arg(i + 1);
        accounts.append(a);
    }
    return accounts;
}

QList<TSimpleFilter> SampleRules(int count)
{
    // Three rules that catch some of the sample mail, at the end of the list: a message that is no spam
    // (most of them) is compared with every rule.
    QList<TSimpleFilter> catching;
    for (const auto &[kind, field, text] : {std::tuple{fkSubject, "", "GEWONNEN"}, std::tuple{fkSubject, "", "V1agra"},
                                            std::tuple{fkHeaderField, "From", "spammer.example"}}) {
        TSimpleFilter r;
        r.Active = true;
        r.Kind = kind;
        r.Operation = foContains;
        r.HeaderField = QString::fromLatin1(field);
        r.Text = QString::fromLatin1(text);
        catching.append(r);
    }
    QList<TSimpleFilter> rules;
    const int filler = std::max(0, count - int(catching.size()));
    for (int i = 0; i < filler; ++i) {
        TSimpleFilter r;
        r.Active = true;
        r.Operation = foContains;
        const QString word = QString::fromLatin1(kRuleWords[i % std::size(kRuleWords)]);
        if (i % 3 == 2) {
            r.Kind = fkHeaderField;
            r.HeaderField = QString::fromLatin1(kRuleFields[(i / 3) % std::size(kRuleFields)]);
            r.Text = QStringLiteral("%1-%2.example").arg(word).arg(i);
        } else {
            r.Kind = fkSubject;
            r.Text = QStringLiteral("%1 %2").arg(word).arg(i);
        }
        rules.append(r);
    }
    rules.append(catching.mid(0, count - filler));
    return rules;
}

QList<TSimpleFilter> AllowRules(int count)
{
    QList<TSimpleFilter> rules;
    for (int i = 0; i < count; ++i) {
        TSimpleFilter r;
        r.Active = true;
        if (i % 10 == 9) {
            r.Kind = fkAllowSubject;
            r.Operation = foBeginsWith;
            r.Text = QStringLiteral("Rechnung %1").arg(i);
        } else {
            r.Kind = fkAllowHeaderField;
            r.Operation = foContains;
            r.HeaderField = QStringLiteral("From");
            r.Text = QStringLiteral("absender%1@%2")
                         .arg((i * 37) % 500)
                         .arg(QLatin1String(kSenderDomains[i % std::size(kSenderDomains)]));
        }
        rules.append(r);
    }
    return rules;
}

QList<TSimpleFilter> MixedRules(int count)
{
    QList<TSimpleFilter> catching;
    for (const auto &[kind, field, operation, text] :
         {std::tuple{fkSubject, "", foContains, "GEWONNEN"}, std::tuple{fkSubject, "", foContainsWord, "V1agra"},
          std::tuple{fkHeaderField, "Received", foContains, "mx.spammer.example"}}) {
        TSimpleFilter r;
        r.Active = true;
        r.Kind = kind;
        r.Operation = operation;
        r.HeaderField = QString::fromLatin1(field);
        r.Text = QString::fromLatin1(text);
        catching.append(r);
    }
    QList<TSimpleFilter> rules;
    const int filler = std::max(0, count - int(catching.size()));
    for (int i = 0; i < filler; ++i) {
        TSimpleFilter r;
        r.Active = i % 40 != 39;
        if (i % 12 == 11) {
            const NearMiss &m = kNearMisses[(i / 12) % std::size(kNearMisses)];
            r.Kind = m.kind;
            r.HeaderField = QString::fromLatin1(m.field);
            r.Operation = m.operation;
            r.Text = QString::fromLatin1(m.text);
        } else {
            const RuleTarget &t = kRuleTargets[(i / 5) % std::size(kRuleTargets)];
            r.Kind = t.kind;
            r.HeaderField = QString::fromLatin1(t.field);
            r.Operation = uint8_t(i % 5); // every operation on every target
            r.Text = QString::fromLatin1(t.format)
                         .replace(QLatin1String("%1"), QLatin1String(kRuleWords[i % std::size(kRuleWords)]))
                         .replace(QLatin1String("%2"), QString::number(i));
        }
        rules.append(r);
    }
    rules.append(catching.mid(0, count - filler));
    return rules;
}

bool WriteProfile(const TPOP3Accounts &accounts, const QList<TSimpleFilter> &rules, int checkMinutes)
{
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Settings.ConnectionType = 0; // LAN: online from the start
        s.Settings.POP3Check.EMailCheck = true;
        s.Settings.POP3Check.EMailCheckTime = checkMinutes * 60;
        s.Settings.Accounts = accounts;
        s.Save();
        TSpamFilterClass store(s);
        store.ReplaceFilters(rules);
        if (!store.SaveFilters()) {
            std::fprintf(stderr, "Die Regeln ließen sich nicht schreiben.\n");
            return false;
        }
    }
    TRegistrySettings check;
    check.Load();
    TSpamFilterClass store(check);
    store.LoadFilters();
    const bool ok = check.Settings.Accounts.size() == accounts.size() && store.Filters().size() == rules.size() &&
                    !check.Settings.FirstStart && check.Settings.POP3Check.EMailCheck;
    if (!ok)
        std::fprintf(stderr, "Das Profil liest sich nicht wie geschrieben: %d Postfächer, %d Regeln.\n",
                     int(check.Settings.Accounts.size()), int(store.Filters().size()));
    return ok;
}

qint64 SelfStatusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return statusField(f.readAll(), field);
}

qint64 ProcessStatusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return statusField(f.readAll(), field);
}

TempProfile::TempProfile()
{
    if (m_dir.isValid())
        qputenv("QUARVEL_PROFILE", QFile::encodeName(m_dir.path()));
}

int ArgValue(int argc, char **argv, const char *name, int def)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return def;
}

QString ArgText(int argc, char **argv, const char *name, const QString &def)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return def;
}

qint64 MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double Min(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

CountingMessageBox::CountingMessageBox()
{
    SetMessageBoxHandler(this);
}

CountingMessageBox::~CountingMessageBox()
{
    SetMessageBoxHandler(nullptr);
}

int CountingMessageBox::Show(const QString &text, const QString &, TMsgKind, int buttons)
{
    if (Count++ == 0)
        First = text;
    return CautiousAnswer(buttons);
}

} // namespace bench
