// The destination layer on messages made by hand: mboxrd quoting read back by Python's mailbox
// module and GMime's mbox parser, hostile folder names in every layout, and the names and addresses
// of IMAP upload (folder names checked against what Dovecot itself lists for them).
#include "deliver/destination.h"
#include "deliver/export_log.h"
#include "deliver/imap_destination.h"
#include "imap/imap_session.h"
#include "tests/export/gmime_reader.h"
#include "tests/support/store_builder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {
using namespace edb::conv;
namespace fs = std::filesystem;

FolderPath folder(std::vector<std::string> names) {
    FolderPath f;
    f.names = std::move(names);
    f.attached = true;
    for (const auto& n : f.names) {
        f.treePath += n + "\\";
    }
    return f;
}

std::string lf(std::string s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) {
            out += s[i];
        }
    }
    return out.back() == '\n' ? out : out + '\n';
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(Destination& d, const FolderPath& f, const std::vector<std::string>& emls) {
    const MessageSnapshot snap;
    d.openFolder(f);
    for (const std::string& e : emls) {
        ASSERT_NE(d.write({snap, e, MessageTime(e, 0), MessageKey(e), false}),
                  WriteResult::AlreadyPresent);
    }
    for (const Settled& s : d.settle(true)) {
        ASSERT_EQ(s.error, "");
    }
    d.closeFolder();
}

const std::vector<std::string> kMessages = {
    "From: Ann <ann@example.com>\r\nDate: Thu, 13 Feb 2003 09:55:06 +0000\r\nSubject: "
    "quoting\r\n\r\nFrom the start\r\n>From once\r\n>>From twice\r\nFromage\r\n> From not\r\nFrom",
    "From: \"B\" <b c@x>\r\nSubject: no date, no line end\r\n\r\nbody",
};

TEST(Destinations, MboxrdQuotingRoundTripsThroughPythonMailbox) {
    edbtest::TempDir out;
    const auto mbox = MakeFileDestination(FileFormat::Mbox, out.path());
    writeAll(*mbox, folder({"Box", "Inbox"}), kMessages);
    const fs::path file = out.path() / "Box" / "Inbox.mbox";
    const std::string raw = readFile(file);
    EXPECT_EQ(raw.rfind("From ann@example.com Thu Feb 13 09:55:06 2003\n", 0), 0U) << raw;
    EXPECT_NE(raw.find("\n>From the start\n>>From once\n>>>From twice\nFromage\n> From not\n"),
              std::string::npos);
    EXPECT_NE(raw.find("\nFrom MAILER-DAEMON Thu Jan  1 00:00:00 1970\n"), std::string::npos);
    EXPECT_EQ(raw.find('\r'), std::string::npos);

    // GMime's mbox parser splits the file into the same two messages.
    const auto read = edbtest::ReadMboxWithGmime(file);
    ASSERT_EQ(read.size(), 2U);
    EXPECT_EQ(read[0].subject, "quoting");
    EXPECT_EQ(read[0].date, 1045130106);
    EXPECT_NE(read[0].leaves.at(0).body.find("\n>>>From twice\nFromage\n"), std::string::npos);
    EXPECT_EQ(read[1].subject, "no date, no line end");
    EXPECT_EQ(read[1].leaves.at(0).body.rfind("body\n", 0), 0U);

#ifdef EDB_PYTHON
    // The reader splits on "From " lines; undoing one '>' of mboxrd gives the messages back.
    const fs::path script = out.path() / "read.py";
    std::ofstream(script) << "import mailbox, re, sys\n"
                             "box = mailbox.mbox(sys.argv[1], create=False)\n"
                             "with open(sys.argv[2], 'wb') as out:\n"
                             "    for key in box.keys():\n"
                             "        raw = box.get_bytes(key)\n"
                             "        out.write(re.sub(rb'(?m)^>(>*From )', rb'\\1', raw))\n"
                             "        out.write(b'\\0')\n";
    const fs::path result = out.path() / "read.out";
    const std::string cmd = std::string(EDB_PYTHON) + " '" + script.string() + "' '" +
                            file.string() + "' '" + result.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string expected;
    for (const std::string& m : kMessages) {
        expected += lf(m) + '\0';
    }
    EXPECT_EQ(readFile(result), expected);
#endif
}

TEST(Destinations, HostileFolderNamesStayInsideInEveryLayout) {
    const std::vector<FolderPath> folders = {
        folder({"..", "Inbox", "../../x"}), folder({"Box", "a.b/c", "CON"}),
        folder({"Box", "inbox"}), folder({"Box", "INBOX"}),
        folder({"Box", std::string(300, 'L'), "ctl\x01\x1b[0m"})};
    for (const FileFormat format : {FileFormat::Eml, FileFormat::Mbox, FileFormat::Maildir}) {
        edbtest::TempDir out;
        const fs::path root = out.path() / "out";
        const auto dest = MakeFileDestination(format, root);
        for (const FolderPath& f : folders) {
            writeAll(*dest, f, {kMessages[0]});
        }
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            const std::string rel = fs::relative(e.path(), root).string();
            for (const auto& part : fs::path(rel)) {
                EXPECT_NE(part, "..") << rel;
            }
            EXPECT_EQ(fs::weakly_canonical(e.path()).string().rfind(
                          fs::weakly_canonical(root).string(), 0),
                      0U)
                << rel;
            EXPECT_EQ(rel.find('\x1b'), std::string::npos) << rel;
            EXPECT_LE(e.path().filename().string().size(), 255U);
            files += e.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, folders.size()) << static_cast<int>(format);
    }
    // Maildir++: the mailbox's inbox is the Maildir's own INBOX; a second folder that differs
    // only in case neither vanishes into it nor takes a name servers read as INBOX, even when
    // it comes first.
    const auto count = [](const fs::path& d) {
        return std::distance(fs::directory_iterator(d), fs::directory_iterator());
    };
    for (const bool noted : {false, true}) {
        edbtest::TempDir out;
        const auto maildir = MakeFileDestination(FileFormat::Maildir, out.path());
        if (noted) {
            maildir->noteInboxes({folder({"Box", "Inbox"})});
            writeAll(*maildir, folder({"Box", "INBOX"}), {kMessages[1]});
        }
        writeAll(*maildir, folder({"Box", "Inbox"}), {kMessages[0]});
        writeAll(*maildir, folder({"Box", "Inbox", "Projects"}), {kMessages[1]});
        if (!noted) {
            writeAll(*maildir, folder({"Box", "INBOX"}), {kMessages[1]});
        }
        EXPECT_EQ(count(out.path() / "Box" / "cur"), 1);
        EXPECT_EQ(count(out.path() / "Box" / ".INBOX.Projects" / "cur"), 1);
        EXPECT_EQ(count(out.path() / "Box" / ".INBOX_" / "cur"), 1);
    }
}

std::string withId(int n) {
    return "Message-ID: <m" + std::to_string(n) + "@x>\r\nFrom: a@x\r\nSubject: same\r\n\r\nbody " +
           std::to_string(n) + "\r\n";
}

std::vector<WriteResult> writeEach(Destination& d, const FolderPath& f,
                                   const std::vector<std::string>& emls) {
    const MessageSnapshot snap;
    std::vector<WriteResult> results;
    d.openFolder(f);
    for (const std::string& e : emls) {
        results.push_back(d.write({snap, e, MessageTime(e, 0), MessageKey(e), false}));
    }
    // A pending message counts as written once it is settled without an error.
    const std::vector<Settled> settled = d.settle(true);
    std::size_t next = 0;
    for (WriteResult& r : results) {
        if (r == WriteResult::Pending && next < settled.size() &&
            settled[next++].error.empty()) {
            r = WriteResult::Written;
        }
    }
    EXPECT_EQ(next, settled.size());
    d.closeFolder();
    return results;
}

std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            files.push_back(fs::relative(e.path(), root).generic_string() + "=" +
                            readFile(e.path()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A second run into the same folder writes only what the first did not, under the names one
// run gives, in every layout; copies of one message that share a Message-ID all stay.
TEST(Destinations, ARerunWritesOnlyWhatIsMissing) {
    const FolderPath box = folder({"Box", "Inbox"});
    const std::vector<std::string> all = {withId(1), withId(2), withId(2), withId(3)};
    for (const FileFormat format : {FileFormat::Eml, FileFormat::Mbox, FileFormat::Maildir}) {
        edbtest::TempDir one;
        writeAll(*MakeFileDestination(format, one.path()), box, all);
        edbtest::TempDir two;
        (void)writeEach(*MakeFileDestination(format, two.path()), box, {all[0], all[1]});
        const auto results = writeEach(*MakeFileDestination(format, two.path()), box, all);
        EXPECT_EQ(results, (std::vector<WriteResult>{WriteResult::AlreadyPresent,
                                                     WriteResult::AlreadyPresent,
                                                     WriteResult::Written, WriteResult::Written}))
            << static_cast<int>(format);
        EXPECT_EQ(filesUnder(two.path()), filesUnder(one.path())) << static_cast<int>(format);
        EXPECT_EQ(writeEach(*MakeFileDestination(format, two.path()), box, all),
                  std::vector<WriteResult>(4, WriteResult::AlreadyPresent));
    }
}

// Mail readers tell Maildir messages apart by the name without its size field and flags; two
// messages with one store id and date (different sizes) must differ there, and a rerun that
// finds one of them writes the other under the name one run gives.
TEST(Destinations, MaildirNamesDifferWhereReadersCompareThem) {
    const FolderPath box = folder({"Box", "Inbox"});
    const auto sameDate = [](int n, std::size_t size) {
        return "Message-ID: <d" + std::to_string(n) +
               "@x>\r\nDate: Thu, 13 Feb 2003 09:55:06 +0000\r\nSubject: twin\r\n\r\n" +
               std::string(size, 'x') + "\r\n";
    };
    const std::vector<std::string> all = {sameDate(1, 10), sameDate(2, 20), sameDate(3, 30)};
    const auto readerKeys = [](const fs::path& cur) {
        std::vector<std::string> keys;
        for (const auto& e : fs::directory_iterator(cur)) {
            std::string name = e.path().filename().string();
            name = name.substr(0, name.find(":2,"));
            const auto size = name.find(",S=");
            if (size != std::string::npos) {
                const auto end = name.find_first_not_of("0123456789", size + 3);
                name.erase(size, end == std::string::npos ? std::string::npos : end - size);
            }
            keys.push_back(name);
        }
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    edbtest::TempDir one;
    writeAll(*MakeFileDestination(FileFormat::Maildir, one.path()), box, all);
    auto keys = readerKeys(one.path() / "Box" / "cur");
    ASSERT_EQ(keys.size(), 3U);
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end())
        << keys[0] << " " << keys[1] << " " << keys[2];

    edbtest::TempDir two;
    (void)writeEach(*MakeFileDestination(FileFormat::Maildir, two.path()), box, {all[0]});
    EXPECT_EQ(writeEach(*MakeFileDestination(FileFormat::Maildir, two.path()), box, all),
              (std::vector<WriteResult>{WriteResult::AlreadyPresent, WriteResult::Written,
                                        WriteResult::Written}));
    EXPECT_EQ(filesUnder(two.path()), filesUnder(one.path()));
}

// A folder swapped for a link between two messages (the mailbox's, or the message folder
// itself): in every layout the next write fails with a reason naming the folder, and nothing
// reaches the link's target.
TEST(Destinations, AFolderSwappedForALinkIsNotFollowed) {
    for (const FileFormat format : {FileFormat::Eml, FileFormat::Mbox, FileFormat::Maildir}) {
        for (const bool leaf : {false, true}) {
            edbtest::TempDir out;
            edbtest::TempDir elsewhere;
            const auto d = MakeFileDestination(format, out.path());
            d->openFolder(folder({"Box", "Inbox", "Sub"}));
            const MessageSnapshot snap;
            ASSERT_NE(d->write({snap, withId(1), std::nullopt, MessageKey(withId(1)), false}),
                      WriteResult::AlreadyPresent);
            fs::path maildir;
            for (const auto& e : fs::directory_iterator(out.path() / "Box")) {
                if (e.path().filename().string().starts_with(".")) {
                    maildir = e.path(); // the folder's own Maildir
                }
            }
            const fs::path swapped = !leaf                        ? out.path() / "Box"
                                     : format == FileFormat::Eml  ? out.path() / "Box" / "Inbox" / "Sub"
                                     : format == FileFormat::Mbox ? out.path() / "Box" / "Inbox.sbd"
                                                                  : maildir / "cur";
            ASSERT_TRUE(fs::is_directory(swapped)) << swapped;
            fs::rename(swapped, out.path() / "moved");
            fs::create_directory_symlink(elsewhere.path(), swapped);
            std::string error;
            try {
                (void)d->write({snap, withId(2), std::nullopt, MessageKey(withId(2)), false});
                d->closeFolder();
                // Files waiting for their names report the failure here.
                for (const Settled& s : d->settle(true)) {
                    error = s.error.empty() ? error : s.error;
                }
            } catch (const fs::filesystem_error& e) {
                error = e.what();
            }
            EXPECT_NE(error.find("replaced"), std::string::npos) << error;
            EXPECT_NE(error.find(swapped.string()), std::string::npos) << error;
            EXPECT_TRUE(fs::is_empty(elsewhere.path())) << static_cast<int>(format) << leaf;
        }
    }
}

// An mbox an older version left cut short under its final name: the whole messages count as
// there, the cut one is written again, and the file ends up as one run makes it.
TEST(Destinations, AnMboxCutShortIsCompletedWithoutDoubles) {
    const FolderPath box = folder({"Box", "Inbox"});
    const std::vector<std::string> all = {withId(1), withId(2), withId(3)};
    edbtest::TempDir clean;
    writeAll(*MakeFileDestination(FileFormat::Mbox, clean.path()), box, all);
    const std::string whole = readFile(clean.path() / "Box" / "Inbox.mbox");

    edbtest::TempDir cut;
    fs::create_directories(cut.path() / "Box");
    std::ofstream(cut.path() / "Box" / "Inbox.mbox", std::ios::binary)
        << whole.substr(0, whole.find("body 2") + 3);
    const auto results = writeEach(*MakeFileDestination(FileFormat::Mbox, cut.path()), box, all);
    EXPECT_EQ(results[0], WriteResult::AlreadyPresent);
    EXPECT_EQ(results[1], WriteResult::Written);
    EXPECT_EQ(readFile(cut.path() / "Box" / "Inbox.mbox"), whole);
}

// The log goes where every output goes: a link or a folder of its name is left alone and
// named as the reason; an earlier run's log is kept and this run's block added after it.
TEST(Destinations, TheLogReplacesOnlyARegularFile) {
    ExportLog log;
    log.addMessage("Box/a.eml", "0102", {"attachment 'x' could not be read"});
    edbtest::TempDir out;
    std::ofstream(out.path() / kExportLogName) << "earlier run\n";
    EXPECT_EQ(log.write(out.path()), out.path() / kExportLogName);
    EXPECT_EQ(readFile(out.path() / kExportLogName), "earlier run\n\n" + log.text());
    EXPECT_NE(log.text().find("Box/a.eml\tmessage 0102\tattachment 'x'"), std::string::npos);

    edbtest::TempDir linked;
    std::ofstream(out.path() / "victim") << "keep";
    fs::create_symlink(out.path() / "victim", linked.path() / kExportLogName);
    EXPECT_THROW((void)log.write(linked.path()), fs::filesystem_error);
    EXPECT_EQ(readFile(out.path() / "victim"), "keep");
    EXPECT_TRUE(fs::is_symlink(linked.path() / kExportLogName));

    edbtest::TempDir taken;
    fs::create_directory(taken.path() / kExportLogName);
    try {
        (void)log.write(taken.path());
        ADD_FAILURE() << "a folder was written over";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(e.code(), std::make_error_code(std::errc::is_a_directory));
    }
    for (const fs::path& dir : {linked.path(), taken.path()}) {
        for (const auto& e : fs::directory_iterator(dir)) {
            EXPECT_EQ(e.path().filename(), kExportLogName); // no temporary file left
        }
    }
}

TEST(Destinations, ImapNamesAndAddresses) {
    // As Dovecot lists the folders it made for these names.
    EXPECT_EQ(EncodeMailboxName("Иван Петров"), "&BBgEMgQwBD0- &BB8ENQRCBEAEPgQy-");
    EXPECT_EQ(EncodeMailboxName("R&D ~/x"), "R&-D ~/x");
    EXPECT_EQ(EncodeMailboxName("café 😀"), "caf&AOk- &2D3eAA-");
    EXPECT_EQ(EncodeMailboxName("bad\xff"), "bad&,,0-");
    EXPECT_EQ(MailboxLevels({"Restored"}, {"a/b.c", "..", "  ", "x*%\x07"}, '.'),
              (std::vector<std::string>{"Restored", "a_b_c", "__", "_", "x___"}));

    const ImapUrl u = ParseImapUrl("IMAPS://ann%40corp@[::1]:1993/Old%20Mail/2003");
    EXPECT_TRUE(u.implicitTls);
    EXPECT_EQ(u.user, "ann@corp");
    EXPECT_EQ(u.host, "[::1]");
    EXPECT_EQ(u.port, 1993);
    EXPECT_EQ(u.prefix, (std::vector<std::string>{"Old Mail", "2003"}));
    EXPECT_TRUE(ParseImapUrl("imap://a@h").prefix.empty());
    for (const char* bad : {"http://a@h/", "imap://h/", "imap://a@h:0/", "imap://a@h:99999/",
                            "imap://a@/x", "imap://a@h/%0d%0aX"}) {
        EXPECT_THROW((void)ParseImapUrl(bad), std::invalid_argument) << bad;
    }

    EXPECT_EQ(MessageKey("Message-ID:\r\n <a@b>\r\nX-Edb-Message-Id: 01\r\n\r\n"), "<a@b>");
    EXPECT_EQ(MessageKey("X-EDB-MESSAGE-ID: 0102\r\n\r\nMessage-ID: <body@x>\r\n"), "store:0102");
    EXPECT_EQ(MessageKey("Subject: x\r\n\r\n"), "");
}

TEST(Destinations, LongMailboxNamesShortenedStably) {
    // The shortened name begins with the original's start, cut between two characters.
    const auto cleanCut = [](const std::string& original, const std::string& shortened) {
        const std::string head = shortened.substr(0, shortened.rfind('~'));
        return original.compare(0, head.size(), head) == 0 && head.size() < original.size() &&
               (static_cast<unsigned char>(original[head.size()]) & 0xC0) != 0x80;
    };
    EXPECT_EQ(ShortenMailboxName("Inbox", 16), "Inbox");
    std::string cyrillic;
    for (int i = 0; i < 120; ++i) {
        cyrillic += "\xd0\x9e\xd1\x82 "; // "От "
    }
    for (const std::size_t limit : {200u, 60u, 17u, 16u, 3u}) {
        const std::string a = ShortenMailboxName(cyrillic + "A", limit);
        const std::string b = ShortenMailboxName(cyrillic + "B", limit);
        EXPECT_LE(EncodeMailboxName(a).size(), std::max<std::size_t>(limit, 16)) << a;
        EXPECT_NE(a, b) << "names alike at the start must stay apart";
        EXPECT_EQ(a, ShortenMailboxName(cyrillic + "A", limit)) << "the same on every run";
        EXPECT_TRUE(cleanCut(cyrillic + "A", a)) << a;
    }
    // '&' (two bytes encoded) and 4-byte characters around the limit.
    const std::string mixed = std::string(190, 'x') + "&&\xf0\x9f\x98\x80\xf0\x9f\x98\x80tail";
    for (std::size_t limit = 190; limit < 211; ++limit) { // 211: it fits
        const std::string cut = ShortenMailboxName(mixed, limit);
        EXPECT_LE(EncodeMailboxName(cut).size(), limit);
        EXPECT_TRUE(cleanCut(mixed, cut)) << limit << ": " << cut;
    }
}

} // namespace
