// quarvel-rules: the spam rules ("Filters.dat" in the data folder) on the command line.
//   quarvel-rules list
//   quarvel-rules add subject  OPERATION TEXT
//   quarvel-rules add header   FIELD OPERATION TEXT
//   quarvel-rules add allow-subject OPERATION TEXT
//   quarvel-rules add allow-header  FIELD OPERATION TEXT
//   quarvel-rules delete NUMBER
// OPERATION is one of: equals, contains, word, begins, ends. The allow kinds are the exceptions ("never
// spam"): a message one of them matches is no spam whatever rule matches. QUARVEL_PROFILE selects the
// profile.
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QTextStream out(stdout);
QTextStream err(stderr);

const char *const kOperations[] = {"equals", "contains", "word", "begins", "ends"};

int usage()
{
    err << "Aufruf:\n"
           "  quarvel-rules list\n"
           "  quarvel-rules add subject OPERATION TEXT\n"
           "  quarvel-rules add header FELD OPERATION TEXT\n"
           "  quarvel-rules add allow-subject OPERATION TEXT\n"
           "  quarvel-rules add allow-header FELD OPERATION TEXT\n"
           "  quarvel-rules delete NUMMER\n"
           "OPERATION: equals, contains, word, begins, ends\n";
    err.flush();
    return 2;
}

int operationOf(const QString &name)
{
    for (int i = 0; i < 5; ++i)
        if (name == QLatin1String(kOperations[i]))
            return i;
    return -1;
}

// What a rule looks at, as list shows it; "allow " before an exception.
QString targetText(const TSimpleFilter &f)
{
    QString target;
    switch (RuleTarget(f.Kind)) {
    case fkSubject:
        target = QStringLiteral("subject");
        break;
    case fkHeaderField:
        target = QStringLiteral("header ") + f.HeaderField;
        break;
    default:
        target = QStringLiteral("kind %1").arg(f.Kind);
    }
    return IsAllowRuleKind(f.Kind) ? QStringLiteral("allow ") + target : target;
}

int run(const QStringList &args)
{
    if (args.isEmpty())
        return usage();
    TRegistrySettings settings;
    settings.Load();
    TSpamFilterClass store(settings);
    store.LoadFilters();
    const QString cmd = args.first();

    if (cmd == QLatin1String("list") && args.size() == 1) {
        int n = 0;
        for (const TSimpleFilter *f : store.Filters()) {
            const QString op = f->Operation < 5 ? QLatin1String(kOperations[f->Operation]) : QStringLiteral("?");
            out << ++n << '\t' << (f->Active ? "aktiv" : "aus") << '\t'
                << targetText(*f) << '\t'
                << op << '\t' << f->Text << '\n';
        }
        return 0;
    }
    if (cmd == QLatin1String("add")) {
        TSimpleFilter rule;
        rule.Active = true;
        int op = -1;
        QString kind = args.value(1);
        const bool allow = kind.startsWith(QLatin1String("allow-"));
        if (allow)
            kind.remove(0, 6);
        if (args.size() == 4 && kind == QLatin1String("subject")) {
            rule.Kind = allow ? fkAllowSubject : fkSubject;
            op = operationOf(args.at(2));
            rule.Text = args.at(3);
        } else if (args.size() == 5 && kind == QLatin1String("header")) {
            rule.Kind = allow ? fkAllowHeaderField : fkHeaderField;
            rule.HeaderField = args.at(2);
            op = operationOf(args.at(3));
            rule.Text = args.at(4);
        } else {
            return usage();
        }
        if (op < 0 || rule.Text.isEmpty())
            return usage();
        rule.Operation = uint8_t(op);
        store.AddFilter(rule);
        return store.SaveFilters() ? 0 : 1;
    }
    if (cmd == QLatin1String("delete") && args.size() == 2) {
        bool ok = false;
        const int n = args.at(1).toInt(&ok);
        if (!ok || n < 1 || n > store.Filters().size()) {
            err << "FEHLER: Keine Regel mit der Nummer " << args.at(1) << ".\n";
            return 1;
        }
        store.DeleteFilter(n - 1);
        return store.SaveFilters() ? 0 : 1;
    }
    return usage();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rc = run(app.arguments().mid(1));
    out.flush();
    err.flush();
    return rc;
}
