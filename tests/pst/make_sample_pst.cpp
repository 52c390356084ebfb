// Writes PST files that reach the writer's limits: a heap of many pages, a body in an XBLOCK
// tree, a folder with more rows than one block holds, attachments of every size class. The
// readers' tests check them.
#include "pst/pst_writer.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-sample-pst OUT.pst MESSAGES\n");
        return 2;
    }
    try {
        edb::pst::PstWriter w(argv[1], "Sample");
        const std::uint32_t inbox =
            w.addFolder(edb::pst::PstWriter::topFolder(), "Inbox", edb::pst::FolderKind::Mail);
        const std::uint32_t sub = w.addFolder(inbox, "Sub folder", edb::pst::FolderKind::Mail);
        const int count = std::stoi(argv[2]);
        for (int i = 0; i < count; ++i) {
            edb::pst::Message m;
            m.subject = "RE: message " + std::to_string(i);
            m.senderName = "Sender " + std::to_string(i);
            m.senderAddress = "sender" + std::to_string(i) + "@example.org";
            m.recipients.push_back({"To One", "one@example.org", 1});
            m.recipients.push_back({"Cc Two", "two@example.org", 2});
            m.submitTime = 133000000000000000ULL + static_cast<std::uint64_t>(i) * 10000000ULL;
            m.deliveryTime = m.submitTime;
            std::string body = "Body of message " + std::to_string(i) + "\r\n";
            if (i == 1) {
                for (int k = 0; k < 200000; ++k) {
                    body += "line " + std::to_string(k) + " of a long body\r\n";
                }
            }
            m.body = body;
            if (i % 3 == 0) {
                m.html = "<html><body><p>HTML " + std::to_string(i) + "</p></body></html>";
            }
            if (i % 4 == 0) {
                edb::pst::Attachment a;
                a.name = "file " + std::to_string(i) + ".bin";
                a.mimeType = "application/octet-stream";
                a.bytes.resize(static_cast<std::size_t>(i) * 997 % 30000 + (i == 8 ? 40000000 : 0));
                for (std::size_t k = 0; k < a.bytes.size(); ++k) {
                    a.bytes[k] = static_cast<std::uint8_t>(k * 7 + static_cast<std::size_t>(i));
                }
                m.attachments.push_back(std::move(a));
            }
            m.read = i % 2 == 0;
            w.addMessage(i % 5 == 4 ? sub : inbox, m);
        }
        w.finish();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-sample-pst: %s\n", e.what());
        return 1;
    }
    return 0;
}
