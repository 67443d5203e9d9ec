' The keys registration writes, as the running script host's bitness sees them.
' Usage: registry.vbs MODE PLATFORM DLL, PLATFORM win32 or win64, MODE one of
'   present  everything, the class and the type library naming DLL
'   absent   nothing, and the class cannot be made
'   other    only the other bitness is registered: this view's class key and
'            this platform's type library path are gone, the ProgIDs and the
'            library (which both share) stay
Option Explicit
Dim shell, mode, dll, key, value, kind, got, i
Set shell = CreateObject("WScript.Shell")
mode = WScript.Arguments(0)
dll = WScript.Arguments(2)
Const kClass = "HKCR\CLSID\{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}\"
Const kLib = "HKCR\TypeLib\{2659F52D-4F8C-474C-B259-428EBFA1D80E}\1.0\"
' Key (a trailing "\" reads its default value), value ("*": any), kind: "c" this
' view's class, "p" this platform's library path, "s" shared, "i" the interface
' (this view's; left to the last registration, so "other" does not look at it).
Dim keys : keys = Array( _
  "HKCR\ZentrovaCOM.SMSInterface.1\", "SMSInterface Class", "s", _
  "HKCR\ZentrovaCOM.SMSInterface.1\CLSID\", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", "s", _
  "HKCR\ZentrovaCOM.SMSInterface\", "SMSInterface Class", "s", _
  "HKCR\ZentrovaCOM.SMSInterface\CLSID\", "{96F7B57E-5977-4C45-80B0-5DFAF8F4E603}", "s", _
  "HKCR\ZentrovaCOM.SMSInterface\CurVer\", "ZentrovaCOM.SMSInterface.1", "s", _
  kClass, "SMSInterface Class", "c", _
  kClass & "ProgID\", "ZentrovaCOM.SMSInterface.1", "c", _
  kClass & "VersionIndependentProgID\", "ZentrovaCOM.SMSInterface", "c", _
  kClass & "InprocServer32\", dll, "c", _
  kClass & "InprocServer32\ThreadingModel", "Apartment", "c", _
  kClass & "TypeLib\", "{2659F52D-4F8C-474C-B259-428EBFA1D80E}", "c", _
  kLib, "ZentrovaCOM 1.0 Type Library", "s", _
  kLib & "409\" & WScript.Arguments(1) & "\", dll, "p", _
  "HKCR\Interface\{A94B0FB4-2C90-4EBC-BAE6-ABAB304938DF}\", "ISMSInterface", "i")
For i = 0 To UBound(keys) Step 3
  key = keys(i) : value = keys(i + 1) : kind = keys(i + 2)
  On Error Resume Next
  got = shell.RegRead(key)
  If Err.Number <> 0 Then got = Empty
  On Error GoTo 0
  If mode = "present" Or (mode = "other" And kind = "s") Then
    If IsEmpty(got) Then
      WScript.Echo "FAIL missing " & key
    ElseIf value <> "*" And got <> value Then
      WScript.Echo "FAIL " & key & " reads [" & got & "], not [" & value & "]"
    End If
  ElseIf (mode = "absent" Or kind <> "i") And Not IsEmpty(got) Then
    WScript.Echo "FAIL left behind: " & key
  End If
Next
' Unregistered, the class cannot be made. (With the other bitness registered,
' Wine looks for a surrogate for some seconds before it says so.)
If mode = "absent" Then
  On Error Resume Next
  Dim o : Set o = CreateObject("ZentrovaCOM.SMSInterface")
  If Err.Number <> 429 Then WScript.Echo "FAIL CreateObject gave error " & Err.Number & ", not 429"
  On Error GoTo 0
End If
WScript.Echo "DONE registry"
