' Creates VARO.WebMng late-bound and says how that went: "create 0" and a
' GUID, or "create 1AD" when no DLL of this process's bitness is registered
' (error 429).
On Error Resume Next
Dim mng
Set mng = CreateObject("VARO.WebMng")
WScript.Echo "create " & Hex(Err.Number)
If Err.Number = 0 Then WScript.Echo "guid " & mng.CreateGUID()
WScript.Echo "sentinel done"
