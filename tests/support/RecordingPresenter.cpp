#include "support/RecordingPresenter.h"

namespace tessaly::test {

void RecordingPresenter::presentError(const FriendlyError& error)
{
    errors.push_back(error);
    log.push_back("error: " + error.title);
    if (whilePresenting)
        whilePresenting();
    if (choosesShowDetails && !error.details.empty())
        showDetails(error.details);
}

void RecordingPresenter::showDetails(const std::string& text)
{
    details.push_back(text);
    log.push_back("details: " + text);
    if (whilePresenting)
        whilePresenting();
}

void RecordingPresenter::showInfo(const std::string& title, const std::string& text)
{
    infos.push_back(Info { title, text });
    log.push_back("info: " + title);
    if (whilePresenting)
        whilePresenting();
}

} // namespace tessaly::test
