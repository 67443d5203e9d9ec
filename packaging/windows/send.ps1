# Sends one SMS through ZentrovaCOM from PowerShell. Register the DLL first
# (register.cmd; a 64-bit PowerShell needs the 64-bit DLL), put your account
# details below, then run:
#   powershell -ExecutionPolicy Bypass -File send.ps1 0412345678 "Hello from PowerShell"
param([Parameter(Mandatory)] [string] $Number, [Parameter(Mandatory)] [string] $Message)

# The gateway servers can be overridden per user in the registry (optional):
# $settings = 'HKCU:\Software\Zentrova\SMS\3.0\Settings'
# New-Item -Force $settings | Out-Null
# Set-ItemProperty $settings HTTP1 'sms1.your-provider.example'

$sms = New-Object -ComObject ZentrovaCOM.SMSInterface
$sms.Email = 'you@example.com'
$sms.AccountID = '123456'
$sms.Password = 'your-password'
$sms.DeliveryMethod = 1   # 0 e-mail, 1 HTTP, 2 HTTP with e-mail as the fallback
$sms.PagoraMessage($Number, $Message)
# A failed send raises no error: ResponseText says why, and is empty on success.
if ($sms.ResponseText -eq '') { 'Sent.' } else { "Not sent: $($sms.ResponseText)"; exit 1 }
