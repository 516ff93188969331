' Reads one file into the same variable round after round, as a page reads
' into a variable that already holds a value. After the first rounds and at
' the end it says how many reads succeeded and pauses half a second, so that
' the test can read the process's peak memory at both points.
Option Explicit
Dim mng, path, rounds, bytes, i, succeeded, started
path = WScript.Arguments(0)
rounds = CLng(WScript.Arguments(1))
Set mng = CreateObject("VARO.WebMng")
succeeded = 0
For i = 1 To rounds
    If mng.ReadBinary(path, bytes) = 0 Then succeeded = succeeded + 1
    If i = 20 Or i = rounds Then
        WScript.Echo "reads " & succeeded
        started = Timer
        Do While Timer - started < 0.5 And Timer >= started
        Loop
    End If
Next
WScript.Echo "sentinel done"
