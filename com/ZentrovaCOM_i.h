// The automation interface as C++ sees it: what MIDL would generate from
// ZentrovaCOM.idl. The members stand in the definition's order, which is the
// vtable order that late-bound calls through the type library rely on.
#pragma once

#include "platform/com.h"

// {96F7B57E-5977-4C45-80B0-5DFAF8F4E603}
inline constexpr CLSID CLSID_SMSInterface = {
    0x96F7B57E, 0x5977, 0x4C45, {0x80, 0xB0, 0x5D, 0xFA, 0xF8, 0xF4, 0xE6, 0x03}};
// {A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}
inline constexpr IID IID_ISMSInterface = {
    0xA94B0FB4, 0x2C90, 0x4EBC, {0xBA, 0xE6, 0xAB, 0xAB, 0x30, 0x49, 0x38, 0xDF}};
// {2659F52D-4F8C-474C-B259-428EBFA1D80E}
inline constexpr GUID LIBID_ZENTROVACOM = {
    0x2659F52D, 0x4F8C, 0x474C, {0xB2, 0x59, 0x42, 0x8E, 0xBF, 0xA1, 0xD8, 0x0E}};

struct ISMSInterface : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_ProxyAddress(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProxyAddress(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProxyUserName(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProxyUserName(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProxyType(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProxyType(LONG newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ProxyPort(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ProxyPort(LONG newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DeliveryMethod(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DeliveryMethod(LONG newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SMTPServer(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SMTPServer(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SMTPLoginName(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SMTPLoginName(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SMTPPassword(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_SMTPPassword(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Email(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Email(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AccountID(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_AccountID(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CountryCode(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CountryCode(LONG newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Password(BSTR newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE PagoraMessage(VARIANT* pRecipients, BSTR pMessage) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* pVal) = 0;

 protected:
  ~ISMSInterface() = default;
};
