#pragma once
// One server operation at a time. Every command that talks to a server (a check, a deletion, a text fetch,
// a login test, a delivery) and every timed check is an operation of the coordinator (TPOP3Checker): it
// begins one, runs its server work as jobs on the worker's thread, applies their results on the window's
// thread, and ends it. While one runs, every other command that talks to a server, or changes what the
// operation uses, stays disabled; the program's end cancels it and waits for it to unwind.
class TPOP3Checker;

// What the one server operation of the moment is doing.
enum class TServerOperationKind {
    None,
    TimedCheck,
    ManualCheck,
    DeletionRun,
    SingleDeletion,
    TextFetch,
    AccountTest,
    SendMail,
    ServerSearch, // the new-account assistant finds a server's port and security
};

// Holds the one server operation for a scope (an operation that ends before the scope does):
//     TServerOperation op(checker, TServerOperationKind::TextFetch);
//     if (!op) return;   // another operation runs
class TServerOperation {
public:
    TServerOperation(TPOP3Checker &checker, TServerOperationKind kind);
    ~TServerOperation();
    TServerOperation(const TServerOperation &) = delete;
    TServerOperation &operator=(const TServerOperation &) = delete;
    explicit operator bool() const { return m_started; }

private:
    TPOP3Checker &m_checker;
    bool m_started;
};
