// The base of the card's four filters: the framework's FilterBase, plus IPersistPropertyBag,
// through which a filter learns which card it belongs to, and ISpecifyPropertyPages, which names
// the card's one property page (tools/tv_card/decoder_page.h). The system device enumerator's
// moniker creates the filter from the entry's "CLSID" and hands it the entry's property bag;
// Load finds the card whose device path for this role equals the bag's "DevicePath". A filter
// created without a moniker belongs to card 1.
//
// Threads: every method runs on a control thread and takes the filter lock. A streaming thread
// never calls Card(): it works with a copy taken when it starts, which stays right because Load
// refuses to change the card unless the filter is stopped.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include <memory>

#include "tools/tv_card/card.h"
#include "tools/tv_card/tv_card.h"
#include "video/critical_section.h"
#include "video/filter_base.h"

namespace tvcard {

class CardFilter : public kvx::FilterBase,
                   public IPersistPropertyBag,
                   public ISpecifyPropertyPages {
 public:
  explicit CardFilter(Role role);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetClassID(CLSID* clsid) override;

  // IPersistPropertyBag
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;

  std::shared_ptr<CardState> Card();

 protected:
  HRESULT LookupInterface(REFIID iid, void** out) override;

  // The filter lock: state, connections, the card pointer and the derived filter's own fields;
  // the pins' lock too. Taken by the control threads only.
  kvx::CriticalSection filterLock_;

 private:
  const Role role_;
  std::shared_ptr<CardState> card_;
};

}  // namespace tvcard
