#include "transfer/manifest_fetch.h"

#include "common/build_config.h"
#include "transfer/https_request.h"

// Placeholder until the fetch lands.
bool FetchReleaseManifest(Utf8String&, ErrorText& error) {
    InternetHandle session, connection, request;
    return OpenHttpsGet(kManifestUrl, session, connection, request, error);
}
