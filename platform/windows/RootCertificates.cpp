#include "platform/Platform.h"

#include <windows.h>

#include <wincrypt.h>

#include <memory>

namespace Veltora::Platform
{
namespace
{
struct StoreClose
{
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreClose>;
} // namespace

// The ROOT system store joins the machine's and the current user's trusted roots.
std::vector<std::string> trustedRootCertificates()
{
    std::vector<std::string> certificates;
    const Store store(CertOpenSystemStoreW(0, L"ROOT"));
    if (!store)
        return certificates;
    for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store.get(), nullptr);
         certificate != nullptr;
         certificate = CertEnumCertificatesInStore(store.get(), certificate))
        certificates.emplace_back(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                                  certificate->cbCertEncoded);
    return certificates;
}

} // namespace Veltora::Platform
