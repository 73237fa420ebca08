# The ready-made deployment scripts on a disposable Windows machine: each
# run as SYSTEM (through a scheduled task, as the deployment tools run them)
# and as a standard user (a local account made for the run), in the states
# that matter: found, clean, busy, a user signed out, a folder a standard user
# made first. Each run is held to keymendc's table for its tool
# (deploy\deployment_table.def, the file keymendc compiles) and to the
# script's settings (deploy\scripts.txt): the exit code, the output, the
# folder's DACL, the program gone afterwards and the registration as it must
# be. The scripts' own folder check also judges every row of
# protected_folders.txt, on real folders. Only what a script can show is
# here; keymendc's own checks run in the test programs beside it.
#
# Started by keymend-selftest.exe (elevated, on a disposable machine), which
# reads the JUnit file it writes (deploy-test.ps1.xml in the report folder)
# and the KEYMEND-PLATFORM-ANSWER lines it prints. Windows PowerShell 2.0 to
# 5.1; nothing to install. Everything it makes is noted in a ledger first,
# so that a run that was stopped is undone by the next one.
param([string]$Bundle, [string]$Report)

$ErrorActionPreference = 'Stop'
$work = Join-Path $Report 'work\deploy-test'
$ledger = Join-Path $work 'ledger.txt'
# Short: a scheduled task's command takes at most 261 characters.
$runs = Join-Path $env:SystemDrive 'keymend-selftest-runs'
$powershell = Join-Path $env:SystemRoot 'System32\WindowsPowerShell\v1.0\powershell.exe'
$task = 'KEYMEND-selftest'
$folder = Join-Path ([Environment]::GetFolderPath('CommonApplicationData')) 'KEYMEND'
$protectedSddl = 'O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)'
$code = 'C5B4A39281706F5E4D3C2B1A09F8E7D6'
$userData = 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData'
$products = 'Software\Microsoft\Installer\Products'
$standardUser = 'keymend-standard'
$awayUser = 'keymend-away'
$summaries = @{ 'found' = 'Found:'; 'not-found' = 'Not found:'; 'removed' = 'Removed:';
    'installer-busy' = 'Busy:' }
$cases = New-Object Collections.ArrayList
$started = Get-Date

function Add-Case {
    param([string]$name, [string]$failure, [string]$skipped)
    [void]$cases.Add(@($name, $failure, $skipped))
    if ($failure) {
        Write-Output ('FAILED  ' + $name + ': ' + $failure)
    } else {
        Write-Output ('ok      ' + $name)
    }
}

# One answer only Windows gives: Wine's is "-".
function Write-Answer {
    param([string]$question, [string]$answer)
    Write-Output ("KEYMEND-PLATFORM-ANSWER`t" + $question + "`t" + $answer + "`t-")
}

function Invoke-Quietly {
    param([string]$line)
    cmd.exe /c ($line + ' >nul 2>&1')
    return $LASTEXITCODE
}

function Add-Ledger {
    param([string]$kind, [string]$what)
    Add-Content -LiteralPath $ledger -Value ($kind + "`t" + $what) -Encoding UTF8
}

function Remove-Folder {
    param([string]$path)
    if (Test-Path -LiteralPath $path) {
        # A row's folder may be owned by others and closed to administrators
        # (it is empty: no recursion, which would ask in the system's language).
        [void](Invoke-Quietly ('takeown /f "' + $path + '" /a'))
        [void](Invoke-Quietly ('icacls "' + $path + '" /grant *S-1-5-32-544:(OI)(CI)F /c /q'))
        Remove-Item -LiteralPath $path -Recurse -Force -ErrorAction SilentlyContinue
    }
}

function Remove-User {
    param([string]$name)
    $sid = Get-Sid $name
    [void](Invoke-Quietly ('net user ' + $name + ' /delete'))
    if ($sid) {
        Get-WmiObject Win32_UserProfile | Where-Object { $_.SID -eq $sid } | ForEach-Object {
            try { $_.Delete() } catch { }
        }
        [void](Invoke-Quietly ('reg delete "' + $userData + '\' + $sid + '" /f'))
    }
}

# Undoes what the ledger notes, newest first.
function Undo-Ledger {
    if (-not (Test-Path -LiteralPath $ledger)) {
        return
    }
    $lines = @(Get-Content -LiteralPath $ledger)
    [Array]::Reverse($lines)
    foreach ($line in $lines) {
        $kind, $what = $line -split "`t", 2
        switch ($kind) {
            'task' { [void](Invoke-Quietly ('schtasks /delete /tn "' + $what + '" /f')) }
            'user' { Remove-User $what }
            'key' { [void](Invoke-Quietly ('reg delete "' + $what + '" /f')) }
            'hive' { [void](Invoke-Quietly ('reg unload "' + $what + '"')) }
            'folder' { Remove-Folder $what }
            'folders' {
                Get-ChildItem -Path ($what + '*') -ErrorAction SilentlyContinue |
                    ForEach-Object { Remove-Folder $_.FullName }
            }
        }
    }
    Remove-Item -LiteralPath $ledger -Force
}

function Get-Sid {
    param([string]$name)
    try {
        $account = New-Object Security.Principal.NTAccount($env:COMPUTERNAME, $name)
        return $account.Translate([Security.Principal.SecurityIdentifier]).Value
    } catch {
        return ''
    }
}

function New-Password {
    return 'Km-' + [Guid]::NewGuid().ToString('N').Substring(0, 16) + '-Z9.'
}

function New-Credential {
    param([string]$name, [string]$password)
    $secure = ConvertTo-SecureString $password -AsPlainText -Force
    return New-Object Management.Automation.PSCredential(($env:COMPUTERNAME + '\' + $name), $secure)
}

# Runs PowerShell with arguments as the user of credential, its profile
# loaded; returns the exit code, standard output and standard error.
# Start-Process joins the arguments with spaces: each is quoted already.
function Invoke-AsUser {
    param($credential, [string[]]$arguments)
    $out = Join-Path $work 'user-out.txt'
    $err = Join-Path $work 'user-err.txt'
    $process = Start-Process -FilePath $powershell -ArgumentList $arguments -Credential $credential `
        -LoadUserProfile -WorkingDirectory $runs -RedirectStandardOutput $out `
        -RedirectStandardError $err -PassThru
    # A process found by its id keeps its exit code only once its handle is open.
    [void]$process.Handle
    $process.WaitForExit()
    return @($process.ExitCode, [IO.File]::ReadAllText($out), [IO.File]::ReadAllText($err))
}

function Invoke-ScriptAsUser {
    param($credential, [string]$script)
    return Invoke-AsUser $credential @('-NoProfile', '-NonInteractive', '-ExecutionPolicy', 'Bypass',
        '-File', ('"' + $script + '"'))
}

# Runs the script as SYSTEM through a scheduled task, as a deployment tool
# would; returns the exit code, standard output and standard error.
function Invoke-ScriptAsSystem {
    param([string]$script)
    $result = Join-Path $runs 'result'
    Remove-Item -Path ($result + '.*') -Force -ErrorAction SilentlyContinue
    $command = Join-Path $runs 'run.cmd'
    Set-Content -LiteralPath $command -Encoding ASCII -Value @(
        '@echo off',
        ('"' + $powershell + '" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File "' + $script +
            '" >"' + $result + '.out" 2>"' + $result + '.err"'),
        ('>"' + $result + '.tmp" echo %ERRORLEVEL%'),
        ('move /y "' + $result + '.tmp" "' + $result + '.code" >nul'))
    if ((Invoke-Quietly ('schtasks /create /tn "' + $task + '" /tr "' + $command +
                '" /sc once /st 00:00 /ru SYSTEM /rl HIGHEST /f')) -ne 0) {
        return @(-1, '', 'schtasks could not create the task')
    }
    if ((Invoke-Quietly ('schtasks /run /tn "' + $task + '"')) -ne 0) {
        return @(-1, '', 'schtasks could not start the task')
    }
    $deadline = (Get-Date).AddSeconds(120)
    while (-not (Test-Path -LiteralPath ($result + '.code')) -and (Get-Date) -lt $deadline) {
        Start-Sleep -Milliseconds 250
    }
    if (-not (Test-Path -LiteralPath ($result + '.code'))) {
        return @(-1, '', 'the task did not end within 120 s')
    }
    $exit = [int](([IO.File]::ReadAllText($result + '.code')).Trim())
    return @($exit, [IO.File]::ReadAllText($result + '.out'), [IO.File]::ReadAllText($result + '.err'))
}

# The damaged registration: installer data for sid, and its product
# registration under key (a loaded registry of that user).
function Add-Registration {
    param([string]$sid, [string]$key)
    $data = $userData + '\' + $sid + '\Products\' + $code
    Add-Ledger 'key' $data
    Add-Ledger 'key' ($key + '\' + $products + '\' + $code)
    $lines = @(
        ('reg add "' + $data + '\InstallProperties" /v DisplayName /d "DUVA Brelix for Windows" /f'),
        ('reg add "' + $data + '\InstallProperties" /v DisplayVersion /d 1.11.0050 /f'),
        ('reg add "' + $key + '\' + $products + '\' + $code + '" /v ProductName /d "DUVA Brelix for Windows" /f'))
    foreach ($line in $lines) {
        if ((Invoke-Quietly $line) -ne 0) {
            throw ('could not seed: ' + $line)
        }
    }
}

function Test-Key {
    param([string]$key)
    return (Invoke-Quietly ('reg query "' + $key + '"')) -eq 0
}

# The registration of the signed-out user, read from NTUSER.DAT itself.
function Test-AwayRegistration {
    $loaded = 'HKU\keymend-selftest-seed'
    Add-Ledger 'hive' $loaded
    if ((Invoke-Quietly ('reg load ' + $loaded + ' "' + $awayHive + '"')) -ne 0) {
        throw 'cannot load the signed-out user''s NTUSER.DAT'
    }
    $present = Test-Key ($loaded + '\' + $products + '\' + $code)
    [void](Invoke-Quietly ('reg unload ' + $loaded))
    return $present
}

function Add-AwayRegistration {
    $loaded = 'HKU\keymend-selftest-seed'
    Add-Ledger 'hive' $loaded
    if ((Invoke-Quietly ('reg load ' + $loaded + ' "' + $awayHive + '"')) -ne 0) {
        throw 'cannot load the signed-out user''s NTUSER.DAT'
    }
    try {
        Add-Registration $awaySid $loaded
    } finally {
        [void](Invoke-Quietly ('reg unload ' + $loaded))
    }
}

function Remove-Registrations {
    foreach ($sid in @($adminSid, $awaySid)) {
        [void](Invoke-Quietly ('reg delete "' + $userData + '\' + $sid + '\Products\' + $code + '" /f'))
    }
    [void](Invoke-Quietly ('reg delete "HKU\' + $adminSid + '\' + $products + '\' + $code + '" /f'))
    if (Test-AwayRegistration) {
        $loaded = 'HKU\keymend-selftest-seed'
        [void](Invoke-Quietly ('reg load ' + $loaded + ' "' + $awayHive + '"'))
        [void](Invoke-Quietly ('reg delete "' + $loaded + '\' + $products + '\' + $code + '" /f'))
        [void](Invoke-Quietly ('reg unload ' + $loaded))
    }
}

function Get-Sddl {
    param([string]$path)
    try {
        return [IO.Directory]::GetAccessControl($path).GetSecurityDescriptorSddlForm('Owner, Access')
    } catch {
        return '(unreadable: ' + $_.Exception.Message + ')'
    }
}

function Wait-Unloaded {
    param([string]$sid)
    $deadline = (Get-Date).AddSeconds(180)
    while ((Test-Path -LiteralPath ('Registry::HKEY_USERS\' + $sid)) -and (Get-Date) -lt $deadline) {
        Start-Sleep -Seconds 1
    }
    return -not (Test-Path -LiteralPath ('Registry::HKEY_USERS\' + $sid))
}

# The scripts' own folder check, taken from a script: its rules and the function.
function Import-FolderCheck {
    param([string]$script)
    $text = [IO.File]::ReadAllText($script)
    $rules = [regex]::Matches($text, '(?m)^\$(trustedSids|writeRights|grantingAces|denyingAces|skippedAceFlags) = .*$')
    $function = [regex]::Match($text, '(?ms)^function Get-FolderProblem \{.*?^\}')
    if ($rules.Count -ne 5 -or -not $function.Success) {
        throw ('no folder check found in ' + $script)
    }
    foreach ($rule in $rules) {
        Invoke-Expression ($rule.Value -replace '^\$', '$script:')
    }
    Invoke-Expression ($function.Value -replace '^function Get-FolderProblem', 'function script:Get-FolderProblem')
}

Add-Type -TypeDefinition @'
using System;
using System.Runtime.InteropServices;
public static class KeymendSelfTest {
    [StructLayout(LayoutKind.Sequential, Pack = 4)]
    struct Privilege { public int Count; public long Luid; public int Attributes; }
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool OpenProcessToken(IntPtr process, int access, out IntPtr token);
    [DllImport("advapi32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool LookupPrivilegeValue(string system, string name, out long luid);
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool AdjustTokenPrivileges(IntPtr token, bool none, ref Privilege state, int length,
        IntPtr previous, IntPtr returned);
    [DllImport("advapi32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
    static extern bool ConvertStringSecurityDescriptorToSecurityDescriptor(string sddl, int revision,
        out IntPtr descriptor, IntPtr size);
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool GetSecurityDescriptorOwner(IntPtr descriptor, out IntPtr owner, out bool defaulted);
    [DllImport("advapi32.dll", SetLastError = true)]
    static extern bool GetSecurityDescriptorDacl(IntPtr descriptor, out bool present, out IntPtr dacl,
        out bool defaulted);
    [DllImport("advapi32.dll", CharSet = CharSet.Unicode)]
    static extern int SetNamedSecurityInfo(string path, int type, int information, IntPtr owner,
        IntPtr group, IntPtr dacl, IntPtr sacl);
    [DllImport("kernel32.dll")]
    static extern IntPtr LocalFree(IntPtr memory);
    [DllImport("kernel32.dll")]
    static extern IntPtr GetCurrentProcess();
    // Lets an administrator name any owner (SeRestorePrivilege).
    public static int Enable(string name) {
        IntPtr token;
        if (!OpenProcessToken(GetCurrentProcess(), 0x28, out token)) return Marshal.GetLastWin32Error();
        Privilege privilege = new Privilege();
        privilege.Count = 1;
        privilege.Attributes = 2;
        if (!LookupPrivilegeValue(null, name, out privilege.Luid)) return Marshal.GetLastWin32Error();
        AdjustTokenPrivileges(token, false, ref privilege, 0, IntPtr.Zero, IntPtr.Zero);
        return Marshal.GetLastWin32Error();
    }
    // Owner and DACL exactly as the SDDL says, protected; no DACL in it: none at all.
    public static int SetOwnerAndDacl(string path, string sddl) {
        IntPtr descriptor;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptor(sddl, 1, out descriptor, IntPtr.Zero))
            return Marshal.GetLastWin32Error();
        IntPtr owner;
        IntPtr dacl;
        bool present;
        bool defaulted;
        GetSecurityDescriptorOwner(descriptor, out owner, out defaulted);
        GetSecurityDescriptorDacl(descriptor, out present, out dacl, out defaulted);
        // OWNER and DACL, and PROTECTED_DACL where there is one.
        int information = 0x1 | 0x4 | (present ? unchecked((int)0x80000000) : 0);
        int result = SetNamedSecurityInfo(path, 1, information, owner, IntPtr.Zero,
            present ? dacl : IntPtr.Zero, IntPtr.Zero);
        LocalFree(descriptor);
        return result;
    }
}
'@

# ---------------------------------------------------------------------------
Undo-Ledger
New-Item -ItemType Directory -Force -Path $work | Out-Null
Write-Output ('Windows PowerShell ' + $PSVersionTable.PSVersion + ', CLR ' + $PSVersionTable.CLRVersion)
Write-Answer 'Windows PowerShell version' ([string]$PSVersionTable.PSVersion)

$scripts = @()
foreach ($line in [IO.File]::ReadAllLines((Join-Path $Bundle 'deploy\scripts.txt'))) {
    if ($line -match '^\s*(#|$)') {
        continue
    }
    $fields = $line -split '\s+'
    $scripts += , @($fields[0], $fields[1], (',' + $fields[2] + ','))
}
$rows = @{}
$commands = @{}
$names = @{}
foreach ($line in [IO.File]::ReadAllLines((Join-Path $Bundle 'deploy\deployment_table.def'))) {
    if ($line -match '^DEPLOYMENT\((\w+), "([^"]+)", "(\w+)"\)') {
        $names[$matches[1]] = $matches[2]
        $commands[$matches[2]] = $matches[3]
    } elseif ($line -match '^ROW\((\w+), "([^"]+)", (\d+), (\w+), (\w+)\)') {
        $rows[$names[$matches[1]] + '|' + $matches[2]] = @([int]$matches[3], $matches[4], $matches[5])
    }
}

try {
    # Everything the run makes, noted before it is made.
    if (-not (Test-Path -LiteralPath 'HKLM:\SOFTWARE\DUVA')) {
        Add-Ledger 'key' 'HKLM\SOFTWARE\DUVA'
    }
    Add-Ledger 'folder' $runs
    Add-Ledger 'folder' $folder
    Add-Ledger 'folders' ($folder + '-refused-')
    Add-Ledger 'task' $task
    Add-Ledger 'user' $standardUser
    Add-Ledger 'user' $awayUser
    Remove-Folder $folder

    # A folder the test users may read and run from; nothing else of theirs.
    New-Item -ItemType Directory -Force -Path $runs | Out-Null
    [void](Invoke-Quietly ('icacls "' + $runs + '" /inheritance:r /grant *S-1-5-18:(OI)(CI)F ' +
            '*S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'))
    foreach ($entry in $scripts) {
        Copy-Item -LiteralPath (Join-Path $Bundle ('deploy\' + $entry[0])) `
            -Destination (Join-Path $runs ($entry[0] -replace '/', '-'))
    }

    $adminSid = [Security.Principal.WindowsIdentity]::GetCurrent().User.Value
    $passwords = @{ $standardUser = (New-Password); $awayUser = (New-Password) }
    foreach ($name in @($standardUser, $awayUser)) {
        if ((Invoke-Quietly ('net user ' + $name + ' ' + $passwords[$name] + ' /add')) -ne 0) {
            throw ('net user could not create ' + $name)
        }
    }
    $standard = New-Credential $standardUser $passwords[$standardUser]
    $away = New-Credential $awayUser $passwords[$awayUser]
    $standardSid = Get-Sid $standardUser
    $awaySid = Get-Sid $awayUser

    # The signed-out user's profile, made by a sign-in that loads it; while
    # the profile service holds it, does it load the classes hive beside it?
    $process = Start-Process -FilePath $powershell -ArgumentList @('-NoProfile', '-Command',
        'Start-Sleep -Seconds 15') -Credential $away -LoadUserProfile -WorkingDirectory $runs -PassThru
    $classes = $false
    for ($i = 0; $i -lt 40 -and -not $classes; $i++) {
        Start-Sleep -Milliseconds 250
        $classes = Test-Path -LiteralPath ('Registry::HKEY_USERS\' + $awaySid + '_Classes')
    }
    $process.WaitForExit()
    Write-Answer 'the profile service loads HKEY_USERS\<SID>_Classes when it loads a profile' `
        $(if ($classes) { 'yes' } else { 'no' })
    if (-not (Wait-Unloaded $awaySid)) {
        throw 'the signed-out user''s registry stayed loaded for 180 s after the sign-in ended'
    }
    $profileKey = 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\' + $awaySid
    $awayHive = Join-Path ([Environment]::ExpandEnvironmentVariables(
            (Get-ItemProperty -LiteralPath $profileKey).ProfileImagePath)) 'NTUSER.DAT'

    # The scripts' folder check against every row, on a real folder each.
    Import-FolderCheck (Join-Path $Bundle 'deploy\intune\remediate.ps1')
    $privilege = [KeymendSelfTest]::Enable('SeRestorePrivilege')
    $number = 0
    foreach ($line in [IO.File]::ReadAllLines((Join-Path $Bundle 'protected_folders.txt'))) {
        if ($line -match '^\s*(#|$)') {
            continue
        }
        $verdict, $named, $sddl, $what = $line -split '\s+', 4
        $number++
        $path = Join-Path $runs ('row-' + $number)
        New-Item -ItemType Directory -Path $path | Out-Null
        $set = [KeymendSelfTest]::SetOwnerAndDacl($path, $sddl)
        $problem = ''
        if ($set -eq 0) {
            $problem = Get-FolderProblem $path
        }
        $expected = $named
        if ($named -eq 'owner') { $expected = 'its owner' }
        if ($named -eq 'no-dacl') { $expected = 'no DACL' }
        $failure = ''
        if ($set -ne 0) {
            $failure = 'cannot set ' + $sddl + ' (error ' + $set + ', SeRestorePrivilege: ' + $privilege + ')'
        } elseif ($verdict -eq 'accepted' -and $problem) {
            $failure = 'refused: ' + $problem + ' (as set: ' + (Get-Sddl $path) + ')'
        } elseif ($verdict -eq 'refused' -and -not $problem.Contains($expected)) {
            $failure = 'judged "' + $problem + '", not naming ' + $expected + ' (as set: ' + (Get-Sddl $path) + ')'
        }
        Add-Case ('folder check: ' + $what) $failure ''
        Remove-Folder $path
    }

    # Each script in each state, as SYSTEM.
    $states = @('clean', 'found', 'busy', 'signed-out', 'folder-made-first')
    foreach ($entry in $scripts) {
        $name = $entry[0]
        $deployment = $entry[1]
        $settings = $entry[2]
        $script = Join-Path $runs ($name -replace '/', '-')
        $command = $commands[$deployment]
        $installed = $settings.Contains(',program=installed,')
        foreach ($state in $states) {
            $case = $name + ' as SYSTEM, ' + $state
            $failure = ''
            $mutex = $null
            try {
                Remove-Registrations
                if ($installed) {
                    # The copy the application's install leaves, for the detection to run.
                    $made = Invoke-ScriptAsSystem (Join-Path $runs 'configmgr-app-install.ps1')
                    if ($made[0] -ne 0) {
                        throw ('app-install.ps1 ended with ' + $made[0] + ': ' + $made[2])
                    }
                }
                $outcome = 'not-found'
                if ($state -eq 'found') {
                    Add-Registration $adminSid ('HKU\' + $adminSid)
                    $outcome = 'found'
                } elseif ($state -eq 'signed-out') {
                    Add-AwayRegistration
                    $outcome = 'found'
                } elseif ($state -eq 'busy') {
                    $mutex = New-Object Threading.Mutex($false, 'Global\_MSIExecute')
                    if (-not $mutex.WaitOne(0)) {
                        throw 'cannot own Windows Installer''s mutex'
                    }
                    $outcome = 'installer-busy'
                } elseif ($state -eq 'folder-made-first') {
                    Remove-Folder $folder
                    $made = Invoke-AsUser $standard @('-NoProfile', '-Command',
                        ('"[void][IO.Directory]::CreateDirectory(''' + $folder + ''')"'))
                    if (-not (Test-Path -LiteralPath $folder)) {
                        throw ('the standard user could not make ' + $folder + ': ' + $made[2])
                    }
                }
                if ($command -eq 'repair' -and $outcome -eq 'found') {
                    $outcome = 'removed'
                }
                $ran = Invoke-ScriptAsSystem $script
                if ($mutex) {
                    $mutex.ReleaseMutex()
                    $mutex.Close()
                    $mutex = $null
                }
                $exit = $ran[0]
                $output = $ran[1].Trim()
                $errors = $ran[2].Trim()
                $row = $rows[$deployment + '|' + $outcome]
                $summary = $summaries[$outcome]
                $refused = $state -eq 'folder-made-first'
                if ($refused -and $installed) {
                    # The detection renames nothing: no intact copy reads "not installed".
                    $row = @(0, 'Nothing', 'NoReason')
                }
                if ($refused -and -not $installed) {
                    $noteStream = $output
                    if ($settings.Contains(',notes=error,')) { $noteStream = $errors }
                    if (-not $noteStream.StartsWith('KEYMEND script: renamed the refused ')) {
                        $failure += ' no line that the refused folder was renamed aside;'
                    }
                    $aside = @(Get-ChildItem -Path ($folder + '-refused-*'))
                    if ($aside.Count -ne 1) {
                        $failure += ' ' + $aside.Count + ' folders renamed aside, not one;'
                    }
                    $aside | ForEach-Object { Remove-Folder $_.FullName }
                    $output = (($output -split "`r?`n") | Where-Object { -not $_.StartsWith('KEYMEND script:') }) -join "`n"
                    $errors = (($errors -split "`r?`n") | Where-Object { -not $_.StartsWith('KEYMEND script:') }) -join "`n"
                }
                $thrown = $settings.Contains(',failures=exception,') -and $row[2] -eq 'Reason'
                $expectedExit = $row[0]
                if ($thrown) { $expectedExit = 1 }
                if ($exit -ne $expectedExit) {
                    $failure += ' exit code ' + $exit + ', not ' + $expectedExit + ';'
                }
                $lines = @($output -split "`r?`n" | Where-Object { $_ })
                switch ($row[1]) {
                    'Report' {
                        if ($lines.Count -eq 0 -or -not $lines[-1].StartsWith($summary)) {
                            $failure += ' the output does not end with "' + $summary + '";'
                        }
                    }
                    'Summary' {
                        if ($lines.Count -ne 1 -or -not $lines[0].StartsWith($summary)) {
                            $failure += ' the output is not the one line "' + $summary + ' ...";'
                        }
                    }
                    'Compliant' {
                        if ($output -ne 'Compliant') { $failure += ' the output is not "Compliant";' }
                    }
                    'Nothing' {
                        if ($output) { $failure += ' output where none belongs;' }
                    }
                }
                if ($row[2] -eq 'NoReason' -and $errors) {
                    $failure += ' standard error not empty;'
                } elseif ($row[2] -eq 'Reason' -and -not $errors.Contains($summary)) {
                    $failure += ' standard error does not give the summary;'
                }
                if ($failure) {
                    $failure += ' output: ' + $output + ' | error: ' + $errors
                }
                $sddl = Get-Sddl $folder
                if ($sddl -ne $protectedSddl -and -not ($installed -and $refused)) {
                    $failure += ' the folder''s security is ' + $sddl + ', not ' + $protectedSddl + ';'
                }
                $left = @(Get-ChildItem -LiteralPath $folder -Filter 'keymendc-*.exe' -ErrorAction SilentlyContinue)
                if ($left.Count -ne 0) {
                    $failure += ' ' + $left[0].Name + ' left in the folder;'
                }
                $kept = Test-Path -LiteralPath (Join-Path $folder 'keymendc.exe')
                if ($settings.Contains(',program=install,') -and -not $kept) {
                    $failure += ' no keymendc.exe kept for the detection;'
                }
                $removed = $outcome -eq 'removed'
                if ($state -eq 'found' -and (Test-Key ('HKU\' + $adminSid + '\' + $products + '\' + $code)) -eq $removed) {
                    $failure += ' the product registration is ' + $(if ($removed) { 'still there' } else { 'gone' }) + ';'
                }
                if ($state -eq 'signed-out') {
                    if ((Test-AwayRegistration) -eq $removed) {
                        $failure += ' NTUSER.DAT ' + $(if ($removed) { 'still holds' } else { 'lost' }) +
                            ' the product registration;'
                    }
                    # keymendc, as SYSTEM, made Administrators their owner.
                    $marks = 'HKLM:\SOFTWARE\DUVA\KEYMEND'
                    $owner = '(no key)'
                    if (Test-Path -LiteralPath $marks) {
                        $owner = (Get-Acl -Path $marks).Sddl -replace '^(O:[^:]+?)G:.*$', '$1'
                    }
                    Write-Answer 'owner of the marks'' key that keymendc made as SYSTEM' $owner
                    if ($owner -ne 'O:BA') {
                        $failure += ' the marks'' key is owned by ' + $owner + ', not Administrators;'
                    }
                }
            } catch {
                $failure += ' ' + $_.Exception.Message
            }
            if ($mutex) {
                $mutex.ReleaseMutex()
                $mutex.Close()
            }
            Add-Case $case $failure.Trim() ''
        }
    }

    # The real Windows Installer service holds its mutex without owning it.
    Remove-Folder $folder  # the standard user's, left by the last state
    [void](Invoke-Quietly 'net start msiserver')
    $mutexState = 'absent'
    $existing = $null
    try {
        $existing = [Threading.Mutex]::OpenExisting('Global\_MSIExecute')
        $mutexState = 'open, not owned'
        if (-not $existing.WaitOne(0)) {
            $mutexState = 'owned'
        } else {
            $existing.ReleaseMutex()
        }
    } catch [Threading.AbandonedMutexException] {
        $mutexState = 'abandoned'
    } catch {
    }
    if ($existing) {
        $existing.Close()
    }
    Write-Answer 'Windows Installer''s mutex while its service runs idle' $mutexState
    Remove-Registrations
    $ran = Invoke-ScriptAsSystem (Join-Path $runs 'intune-detect.ps1')
    $failure = ''
    if ($ran[0] -ne 0) {
        $failure = 'exit code ' + $ran[0] + ' while the service runs idle: ' + $ran[1]
    }
    Add-Case 'intune/detect.ps1 as SYSTEM, clean, Windows Installer''s service running' $failure ''

    # As a standard user, with a damaged registration: each script refuses in
    # its own way and changes nothing.
    Add-Registration $adminSid ('HKU\' + $adminSid)
    foreach ($entry in $scripts) {
        $name = $entry[0]
        $settings = $entry[2]
        $ran = Invoke-ScriptAsUser $standard (Join-Path $runs ($name -replace '/', '-'))
        $failure = ''
        $exit = $ran[0]
        if ($settings.Contains(',program=installed,')) {
            if ($exit -ne 0 -or $ran[1].Trim()) {
                $failure = 'not "not installed" (0, no output): ' + $exit + ' ' + $ran[1]
            }
        } elseif ($settings.Contains(',failures=output,')) {
            if ($exit -ne 1 -or -not $ran[1].StartsWith('KEYMEND script: ')) {
                $failure = 'not 1 with the script''s line: ' + $exit + ' ' + $ran[1]
            }
        } elseif ($settings.Contains(',failures=exception,')) {
            if ($exit -ne 1 -or -not $ran[2].Contains('KEYMEND script: ')) {
                $failure = 'not thrown with the script''s line: ' + $exit + ' ' + $ran[2]
            }
        } elseif ($exit -ne 82 -or -not $ran[2].StartsWith('KEYMEND script: ')) {
            $failure = 'not 82 with the script''s line: ' + $exit + ' ' + $ran[2]
        }
        if (-not (Test-Key ($userData + '\' + $adminSid + '\Products\' + $code)) -or
            -not (Test-Key ('HKU\' + $adminSid + '\' + $products + '\' + $code))) {
            $failure += ' the registration changed'
        }
        if ((Get-Sddl $folder) -ne $protectedSddl) {
            $failure += ' the folder''s security is ' + (Get-Sddl $folder)
        }
        Add-Case ($name + ' as a standard user') $failure.Trim() ''
    }

    # Windows enforces the folder's DACL: a standard user can neither list,
    # read nor write it.
    $probe = '$r = @(); foreach ($p in @(''' + $folder + ''', ''' + (Join-Path $folder 'Backups') + ''')) { ' +
        'try { [void][IO.Directory]::GetFiles($p); $r += ''listed '' + $p } catch { } ' +
        'try { [IO.File]::WriteAllText((Join-Path $p ''planted.txt''), ''x''); $r += ''wrote '' + $p } catch { } }; ' +
        'try { [void][IO.File]::ReadAllBytes(''' + (Join-Path $folder 'keymendc.exe') + '''); $r += ''read keymendc.exe'' } catch { }; ' +
        '[Console]::Out.Write([string]::Join(''; '', $r))'
    $ran = Invoke-AsUser $standard @('-NoProfile', '-Command', ('"' + $probe.Replace('"', '\"') + '"'))
    $failure = ''
    if ($ran[1].Trim()) {
        $failure = 'a standard user ' + $ran[1].Trim()
    } elseif ($ran[0] -ne 0) {
        $failure = 'the probe ended with ' + $ran[0] + ': ' + $ran[2]
    }
    Add-Case 'a standard user can neither list, read nor write %ProgramData%\KEYMEND and its Backups' $failure ''
} catch {
    Add-Case 'the deployment scripts'' test ran to its end' $_.Exception.Message ''
} finally {
    Undo-Ledger
}

# One JUnit file, as the runner reads GoogleTest's.
function ConvertTo-Xml {
    param([string]$text)
    return [Security.SecurityElement]::Escape($text)
}
$failed = @($cases | Where-Object { $_[1] }).Count
$seconds = ((Get-Date) - $started).TotalSeconds
$xml = New-Object Text.StringBuilder
[void]$xml.Append('<?xml version="1.0" encoding="UTF-8"?>' + "`n")
[void]$xml.Append('<testsuites tests="' + $cases.Count + '" failures="' + $failed + '" errors="0" time="' +
    $seconds.ToString('0.0', [Globalization.CultureInfo]::InvariantCulture) + '" name="deploy-test">' + "`n")
[void]$xml.Append('  <testsuite name="DeploymentScripts" tests="' + $cases.Count + '" failures="' + $failed + '">' + "`n")
foreach ($case in $cases) {
    [void]$xml.Append('    <testcase classname="DeploymentScripts" name="' + (ConvertTo-Xml $case[0]) + '"')
    if ($case[1]) {
        [void]$xml.Append('><failure message="' + (ConvertTo-Xml ("deploy-test.ps1`n" + $case[1])) + '"/></testcase>' + "`n")
    } else {
        [void]$xml.Append('/>' + "`n")
    }
}
[void]$xml.Append("  </testsuite>`n</testsuites>`n")
[IO.File]::WriteAllText((Join-Path $Report 'deploy-test.ps1.xml'), $xml.ToString())
Write-Output ([string]$cases.Count + ' cases, ' + $failed + ' failed')
if ($failed -gt 0) {
    exit 1
}
exit 0
