# old style comment
pref('mail.server.server1.hostname', 'pop.x.de');
user_pref("mail.server.server1.type", "pop3");
user_pref("mail.server.server1.name", "Gr\u00fc\u00dfe \"aus\" C:\\Pfad \xe4 \ud83d\ude00");
sticky_pref("mail.server.server1.port", 110, locked);
user_pref("mail.identity.id1.smtpServer", "s")
user_pref("mail.smtpserver.s.auth_method", 1);
user_pref("mail.smtpserver.s.hostname", "smtp.x.de"
