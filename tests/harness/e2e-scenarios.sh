# The end-to-end scenarios, each with the exit code the web setup must end with, and the exit codes'
# names from 0 up (SetupResult in src/common/setup_result.h). Sourced by e2e-run.sh (and, for the
# names, by tools/rehearse-release.sh); CTest makes one test per scenario from the same lines
# (tests/e2e/CMakeLists.txt), and the test e2e_scenario_list holds the names to SetupResult and the
# codes to the README's table.
exit_code_names=(Success ComInitFailed PublisherNotConfigured ManifestFetchFailed ManifestInvalid ReleaseNotPublished
                 DownloadFailed PrepareFailed VerificationFailed LaunchFailed InstallerFailed)
e2e_scenarios="
success Success
installer-fails InstallerFailed
declined Success
unpublished ReleaseNotPublished
wrong-digest DownloadFailed
short-body DownloadFailed
unsigned VerificationFailed
other-signer VerificationFailed
lingering-child Success
invalid-manifest ManifestInvalid
manifest-missing ManifestFetchFailed
server-down ManifestFetchFailed
oversized-manifest ManifestFetchFailed
long-body DownloadFailed
not-a-program LaunchFailed
unconfigured PublisherNotConfigured
moved-manifest ManifestFetchFailed
untrusted-server ManifestFetchFailed
user-root-server ManifestFetchFailed
user-root-signer VerificationFailed
stranger-signer VerificationFailed
revoked-signer VerificationFailed
expired-signer VerificationFailed
revoked-server ManifestFetchFailed
cut-download DownloadFailed
cancel-download DownloadFailed
slow-link-cancel DownloadFailed
"
