#include "convert/render_pool.h"

#include "deliver/destination.h"
#include "mime/eml_writer.h"

#include <algorithm>

namespace edb::conv {

void RenderPool::render(Rendered& job) const {
    try {
        job.content = ReadMessageContent(m_reader, job.snapshot, *job.folder);
        job.eml = WriteEml(job.content.eml);
        job.time = MessageTime(job.eml, job.snapshot.filetime);
        job.key = MessageKey(job.eml);
    } catch (...) {
        job.error = std::current_exception();
    }
}

unsigned RenderThreads() {
    return std::max(2U, std::thread::hardware_concurrency());
}

} // namespace edb::conv
