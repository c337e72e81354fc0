#include <cmath>

#include <sanitizer/lsan_interface.h>

#include <QJsonArray>
#include <QJsonValue>
#include <QRegularExpression>

#include "FuzzSupport.h"
#include "PlainName.h"
#include "service/SafeFileName.h"
#include "service/ServiceReplies.h"

namespace {

int arraySize(const QJsonValue& value)
{
    return value.isArray() ? value.toArray().size() : 0;
}

void checkLocalName(const QString& url)
{
    FUZZ_CHECK(PlainName::staysInFolder(SafeFileName::fromUrl(url)));
}

} // namespace

// Reply bytes to records, for each of the seven calls: no reply crashes a reader, every list holds one record per
// entry of the reply's list, numbers are whole or 0, page ranges read "begin-end", and every URL and student id
// the reply names becomes a local name that stays in its folder.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QJsonObject reply;
    {
        // Qt 5.15's JSON parser leaks the first value of a duplicated key when that value is an array or object
        // ({"a":[1],"a":[2]}); a fault of the library, not of the code under test.
        __lsan::ScopedDisabler libraryLeak;
        reply = ServiceReplies::decode(FuzzSupport::bytes(data, size));
    }
    const QJsonValue fields = reply.value(QLatin1String("data"));

    // Every call: the code, and the text reported when it is not 0.
    const QJsonValue code = reply.value(QLatin1String("code"));
    const bool wholeCode =
        code.isDouble() && std::floor(code.toDouble()) == code.toDouble() && std::fabs(code.toDouble()) < 2147483647.0;
    FUZZ_CHECK(ServiceReplies::code(reply) == (wholeCode ? int(code.toDouble()) : 0));
    FUZZ_CHECK(ServiceReplies::desc(reply) == reply.value(QLatin1String("desc")).toString());

    // Upload token, paper status, zero proofread.
    const ServiceReplies::UploadCredentials credentials = ServiceReplies::uploadCredentials(reply);
    FUZZ_CHECK(credentials.token == fields.toObject().value(QLatin1String("token")).toString());
    ServiceReplies::hasUploads(reply);
    ServiceReplies::proofreadCounts(reply);

    // Replenish students.
    const QList<ReplenishStudent> students = ServiceReplies::replenishStudents(reply);
    const QJsonValue studentList = fields.toObject().value(QLatin1String("students"));
    FUZZ_CHECK(students.size() == arraySize(studentList));
    for (int i = 0; i < students.size(); ++i)
        FUZZ_CHECK(students.at(i).images.size() ==
                   arraySize(studentList.toArray().at(i).toObject().value(QLatin1String("images"))));

    // Answer info.
    const ServiceReplies::AnswerPages pages = ServiceReplies::answerPages(reply);
    FUZZ_CHECK(pages.imageUrls.size() <= arraySize(fields.toObject().value(QLatin1String("images"))));
    for (const QString& url : pages.imageUrls) {
        FUZZ_CHECK(!url.isEmpty());
        checkLocalName(url);
    }
    FUZZ_CHECK(PlainName::staysInFolder(SafeFileName::folderName(pages.studentId)));

    // Paper status with page.
    static const QRegularExpression range(QStringLiteral("\\A-?[0-9]+--?[0-9]+\\z"));
    const PaperStatusPage page = ServiceReplies::paperStatusPage(reply);
    const QJsonValue answers = fields.toObject().value(QLatin1String("studentAnswers"));
    FUZZ_CHECK(page.studentAnswers.size() == arraySize(answers));
    for (int i = 0; i < page.studentAnswers.size(); ++i) {
        const StudentAnswer& answer = page.studentAnswers.at(i);
        FUZZ_CHECK(answer.images.size() ==
                   arraySize(answers.toArray().at(i).toObject().value(QLatin1String("images"))));
        for (const auto& image : answer.images) {
            FUZZ_CHECK(range.match(image.second).hasMatch());
            if (!image.first.isEmpty())
                checkLocalName(image.first);
        }
        if (!answer.thumbPath.isEmpty())
            checkLocalName(answer.thumbPath);
    }
    const PaperState state = ServiceReplies::paperState(page);
    FUZZ_CHECK(state == (page.analyseSuccessStudentCount >= 1 && page.unAnalyseSuccessStudentCount == 0
                             ? AnalysisComplete
                             : AnalysisRunning));
    return 0;
}
