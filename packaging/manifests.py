#!/usr/bin/env python3
"""Writes the manifests that winget and Scoop read for one release.

scripts/release.sh runs it once the setup and the zip are built:

  manifests.py VERSION RELEASE_URL HOMEPAGE_URL SETUP ZIP CHANGELOG OUT

RELEASE_URL is where the release's files will be downloadable (each file's
name is appended to it); HOMEPAGE_URL the project's home page. It writes,
below OUT, winget's multi-file manifest (version, installer, the default
locale and one locale for each other language the program speaks) in the
folder layout of winget's community repository, and Scoop's manifest for
the portable zip. Standard library only, and nothing of the build's time or
place in the output: the same inputs give the same bytes.
"""
import hashlib
import json
import os
import re
import sys

PACKAGE_ID = "Quillmere.Quillmere"
MANIFEST_VERSION = "1.10.0"
# What the setup writes under its Uninstall key, whose name is its product
# code for winget.
PRODUCT_CODE = "Quillmere"
DISPLAY_NAME = "Quillmere"
PUBLISHER = "The Quillmere developers"
LICENSE = "MIT"

# The setup's own exit codes, each with the response winget shows for it.
# 1 is NSIS's own for Cancel in the wizard; the others are the script's.
RETURN_CODES = [
    (1, "cancelledByUser"),     # the user left the wizard
    (2, "packageInUse"),        # a running Quillmere did not close, or its exe stayed in use
    (3, "systemNotSupported"),  # Windows older than 7
    (4, "invalidParameter"),    # a folder outside the 64-bit Program Files
]

TAGS = ["memory", "ram", "standby-list", "system-tray", "utility"]

# The description in each language the program speaks, English first (the
# default locale), in the words the program's own texts use.
DESCRIPTIONS = {
    "en-US": (
        "Keeps physical memory free, from an icon in the notification area.",
        "Quillmere is a small resident utility for 64-bit Windows 7 to 11 that keeps physical memory free. "
        "Its icon in the notification area is a bar filled to the current memory load. It cleans memory by "
        "hand (Ctrl+Alt+R, a double-click on the icon or its menu) or automatically: after start, daily at a "
        "set time, at an interval, at a memory load, when free memory runs low and after a time without "
        "keyboard or mouse input. A clean empties the working sets of running programs, flushes the modified "
        "page list, purges the standby list and flushes the file cache; each step can be switched off. Every "
        "clean is logged, and a status window shows the load of the last five minutes and the programs that "
        "hold the most memory. Quillmere asks for administrator rights when it starts: Windows lets only an "
        "elevated program purge the standby list and flush the file cache.",
    ),
    "de-DE": (
        "Hält den physischen Arbeitsspeicher frei – über ein Symbol im Infobereich.",
        "Quillmere ist ein kleines, ständig laufendes Hilfsprogramm für 64-Bit-Windows 7 bis 11, das den "
        "physischen Arbeitsspeicher freihält. Sein Symbol im Infobereich ist ein Balken, der bis zur aktuellen "
        "Speicherauslastung gefüllt ist. Es bereinigt den Speicher auf Wunsch (mit Strg+Alt+R, einem "
        "Doppelklick auf das Symbol oder über dessen Menü) oder automatisch: nach dem Start, täglich zu einer "
        "festen Uhrzeit, in festen Abständen, ab einer bestimmten Speicherauslastung, wenn der freie Speicher "
        "knapp wird, und wenn Tastatur und Maus eine Zeit lang unbenutzt waren. Eine Bereinigung leert die "
        "Arbeitssätze der laufenden Programme, schreibt die geänderten Seiten zurück, leert die Standbyliste "
        "und den Dateicache; jeder dieser Schritte lässt sich abschalten. Jede Bereinigung wird protokolliert, "
        "und ein Statusfenster zeigt die Auslastung der letzten fünf Minuten und die Programme, die den meisten "
        "Speicher belegen. Quillmere fragt beim Start nach Administratorrechten, denn nur ein Programm mit "
        "erhöhten Rechten darf unter Windows die Standbyliste und den Dateicache leeren.",
    ),
    "fr-FR": (
        "Garde la mémoire physique libre, depuis une icône de la zone de notification.",
        "Quillmere est un petit utilitaire résident pour Windows 7 à 11 en 64 bits qui garde la mémoire "
        "physique libre. Son icône dans la zone de notification est une barre remplie selon la charge actuelle "
        "de la mémoire. Il nettoie la mémoire à la demande (avec Ctrl+Alt+R, un double-clic sur l'icône ou son "
        "menu) ou automatiquement : après le démarrage, chaque jour à une heure fixée, à intervalle régulier, "
        "au-delà d'une certaine charge, quand la mémoire libre vient à manquer et après un moment sans activité "
        "du clavier ni de la souris. Un nettoyage vide les plages de travail des programmes en cours "
        "d'exécution, vide la mémoire modifiée, purge la mémoire en attente et vide le cache de fichiers ; "
        "chacune de ces étapes peut être désactivée. Chaque nettoyage est consigné dans un journal, et une "
        "fenêtre d'état montre la charge des cinq dernières minutes et les programmes qui occupent le plus de "
        "mémoire. Quillmere demande les droits d'administrateur à son démarrage, car sous Windows seul un "
        "programme exécuté avec des droits élevés peut purger la mémoire en attente et vider le cache de "
        "fichiers.",
    ),
    "es-ES": (
        "Mantiene libre la memoria física desde un icono del área de notificación.",
        "Quillmere es una pequeña utilidad residente para Windows 7 a 11 de 64 bits que mantiene libre la "
        "memoria física. Su icono en el área de notificación es una barra que se llena según la carga actual "
        "de memoria. Limpia la memoria cuando se lo pides (con Ctrl+Alt+R, un doble clic en el icono o desde "
        "su menú) o automáticamente: tras el inicio, cada día a una hora fija, a intervalos regulares, al "
        "alcanzar una carga de memoria, cuando escasea la memoria libre y tras un rato sin usar el teclado ni "
        "el ratón. Una limpieza vacía los espacios de trabajo de los programas en ejecución, vacía la memoria "
        "modificada, purga la memoria en espera y vacía la caché de archivos; cada uno de estos pasos se puede "
        "desactivar. Cada limpieza queda registrada, y una ventana de estado muestra la carga de los últimos "
        "cinco minutos y los programas que ocupan más memoria. Quillmere pide permisos de administrador al "
        "iniciarse, porque en Windows solo un programa con privilegios elevados puede purgar la memoria en "
        "espera y vaciar la caché de archivos.",
    ),
    "pt-BR": (
        "Mantém a memória física livre a partir de um ícone na área de notificação.",
        "O Quillmere é um pequeno utilitário residente para Windows 7 a 11 de 64 bits que mantém a memória "
        "física livre. Seu ícone na área de notificação é uma barra preenchida de acordo com a carga atual da "
        "memória. Ele limpa a memória quando você quiser (com Ctrl+Alt+R, um clique duplo no ícone ou pelo "
        "menu dele) ou automaticamente: depois da inicialização, todos os dias em um horário definido, em "
        "intervalos regulares, ao atingir uma carga de memória, quando a memória livre fica escassa e depois "
        "de um tempo sem uso do teclado e do mouse. Uma limpeza esvazia os conjuntos de trabalho dos programas "
        "em execução, grava a memória modificada, esvazia a memória em espera e o cache de arquivos; cada uma "
        "dessas etapas pode ser desativada. Cada limpeza fica registrada, e uma janela de status mostra a carga "
        "dos últimos cinco minutos e os programas que ocupam mais memória. O Quillmere pede privilégios de "
        "administrador ao iniciar, porque no Windows só um programa com privilégios elevados pode esvaziar a "
        "memória em espera e o cache de arquivos.",
    ),
    "ru-RU": (
        "Поддерживает запас свободной физической памяти; управляется значком в области уведомлений.",
        "Quillmere — небольшая резидентная утилита для 64-разрядных Windows 7–11, которая поддерживает запас "
        "свободной физической памяти. Её значок в области уведомлений — полоска, заполненная в соответствии с "
        "текущей загрузкой памяти. Утилита очищает память по команде (сочетанием Ctrl+Alt+R, двойным щелчком "
        "по значку или из его меню) или автоматически: после запуска, ежедневно в заданное время, через "
        "заданные промежутки, при достижении заданной загрузки памяти, когда свободной памяти становится мало, "
        "и после того, как клавиатурой и мышью какое-то время не пользовались. Очистка освобождает рабочие "
        "наборы запущенных программ, сбрасывает список измененных страниц, очищает список ожидания и "
        "сбрасывает файловый кэш; каждый из этих шагов можно отключить. Каждая очистка записывается в журнал, "
        "а окно состояния показывает загрузку памяти за последние пять минут и программы, которые занимают "
        "больше всего памяти. При запуске Quillmere запрашивает права администратора: в Windows очищать список "
        "ожидания и сбрасывать файловый кэш может только программа с повышенными правами.",
    ),
    "zh-CN": (
        "常驻通知区域的小工具，让物理内存保持空闲。",
        "Quillmere 是一款适用于 64 位 Windows 7 至 11 的常驻小工具，用于让物理内存保持空闲。它在通知区域中的"
        "图标是一根柱条，按当前的内存负载填充。它可以按你的指令清理内存（按 Ctrl+Alt+R、双击图标或使用图标的"
        "菜单），也可以自动清理：启动之后、每天的设定时间、按固定间隔、内存负载达到设定值时、可用内存不足时，"
        "以及键盘和鼠标闲置一段时间之后。每次清理会清空正在运行的程序的工作集，刷新已修改列表，清除备用列表，"
        "并刷新文件缓存；其中每个步骤都可以单独关闭。每次清理都会记入日志，状态窗口会显示最近五分钟的内存负载，"
        "以及占用内存最多的程序。Quillmere 启动时会请求管理员权限，因为在 Windows 中，只有以提升的权限运行的"
        "程序才能清除备用列表和刷新文件缓存。",
    ),
    "ja-JP": (
        "通知領域のアイコンから物理メモリの空きを保つ、常駐型のユーティリティです。",
        "Quillmere は、64 ビット版の Windows 7～11 で物理メモリの空きを保つ、小さな常駐型ユーティリティです。"
        "通知領域のアイコンは、現在のメモリ負荷に応じて満たされるバーです。メモリのクリーンアップは、手動 "
        "(Ctrl+Alt+R、アイコンのダブルクリック、またはアイコンのメニュー) でも自動でも行えます。自動の場合は、"
        "起動後、毎日決まった時刻、一定の間隔、メモリ負荷が設定値に達したとき、空きメモリが少なくなったとき、"
        "キーボードやマウスを一定時間使わなかったときに実行されます。クリーンアップでは、実行中のプログラムの"
        "ワーキング セットを空にし、変更済みリストをフラッシュし、スタンバイ リストを消去して、ファイル キャッシュ"
        "をフラッシュします。各手順は個別にオフにできます。クリーンアップはすべてログに記録され、状態ウィンドウ"
        "には直近 5 分間のメモリ負荷と、メモリを最も多く使用しているプログラムが表示されます。Windows では、"
        "スタンバイ リストの消去とファイル キャッシュのフラッシュは管理者として実行されているプログラムにしか"
        "許可されていないため、Quillmere は起動時に管理者権限を求めます。",
    ),
}

# What a Scoop user needs to know, shown after `scoop install`.
SCOOP_NOTES = [
    "Quillmere asks for administrator rights (a UAC prompt) each time it starts: only an elevated program "
    "may purge the standby list and flush the file cache. Started without them, it still empties working "
    "sets, in limited mode.",
    "'Start with Windows' does not start this copy at logon while UAC is on (as Windows has it by default). "
    "Scoop keeps it in your own folders, which any program you run can change, so Quillmere writes no "
    "elevated logon task for it, and Windows skips programs that need elevation in the Run key. Install it "
    "into Program Files with winget or the setup for that.",
    "Settings and the clean log are in %APPDATA%\\Quillmere, not beside the exe: 'scoop uninstall' leaves "
    "them.",
]


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def changelog_entry(path, version):
    """The changelog's entry for `version` as plain text, and its date.

    The entry starts at a heading "## <version>" (optionally followed by
    " — <date>") and runs to the next "## " heading. Markdown's emphasis and
    code marks go, and each item is put on one line."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    heading = re.compile(r"## " + re.escape(version) + r"(?:\s+—\s+(\d{4}-\d{2}-\d{2}))?\s*$")
    start = next((i for i, line in enumerate(lines) if heading.match(line)), None)
    if start is None:
        return None, None
    date = heading.match(lines[start]).group(1)
    body = []
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        body.append(line)
    paragraphs = []  # each a list of lines joined by spaces
    for line in body:
        text = line.strip()
        if not text:
            paragraphs.append([])
        elif text.startswith("- ") or not paragraphs or not paragraphs[-1]:
            paragraphs.append([text])
        else:
            paragraphs[-1].append(text)
    out = []
    for words in paragraphs:
        if not words:
            if out and out[-1] != "":
                out.append("")
            continue
        out.append(re.sub(r"\*\*|`", "", " ".join(words)))
    text = "\n".join(out).strip("\n")
    return text, date


PLAIN = re.compile(r"[A-Za-z0-9/][A-Za-z0-9 ._/+()<>=,'~%?&@!$*;:-]*")
# YAML 1.1 reads these as booleans and null, and numbers, dates and times
# start with a digit.
NOT_PLAIN = re.compile(r"(?i)(y|n|true|false|yes|no|on|off|null|[0-9].*)")


def yaml_scalar(value):
    """A YAML scalar for `value`: plain when nothing in it could be read as
    something else, else double-quoted (a JSON string is one)."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if (PLAIN.fullmatch(value) and not NOT_PLAIN.fullmatch(value) and ": " not in value and " #" not in value
            and not value.endswith((":", " "))):
        return value
    return json.dumps(value, ensure_ascii=False)


def yaml_lines(mapping, indent=""):
    lines = []
    for key, value in mapping.items():
        if isinstance(value, dict):
            lines.append(f"{indent}{key}:")
            lines += yaml_lines(value, indent + "  ")
        elif isinstance(value, list):
            lines.append(f"{indent}{key}:")
            for item in value:
                if isinstance(item, dict):
                    inner = yaml_lines(item, indent + "  ")
                    lines.append(indent + "- " + inner[0][len(indent) + 2:])
                    lines += inner[1:]
                else:
                    lines.append(f"{indent}- {yaml_scalar(item)}")
        elif isinstance(value, str) and "\n" in value:
            lines.append(f"{indent}{key}: |-")
            lines += [f"{indent}  {line}" if line else "" for line in value.split("\n")]
        else:
            lines.append(f"{indent}{key}: {yaml_scalar(value)}")
    return lines


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def write_yaml(path, manifest_type, mapping):
    header = [
        "# Written by Quillmere's scripts/release.sh",
        f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{manifest_type}.{MANIFEST_VERSION}.schema.json",
        "",
    ]
    write(path, "\n".join(header + yaml_lines(mapping)) + "\n")


def main(argv):
    if len(argv) != 8:
        sys.exit("usage: manifests.py VERSION RELEASE_URL HOMEPAGE_URL SETUP ZIP CHANGELOG OUT")
    version, release_url, homepage, setup, zip_file, changelog, out = argv[1:]
    release_url = release_url.rstrip("/")
    notes, date = changelog_entry(changelog, version)
    if not notes:
        sys.exit(f"manifests: {changelog} has no entry \"## {version}\" to take the release notes from")

    ident = {"PackageIdentifier": PACKAGE_ID, "PackageVersion": version}
    folder = os.path.join(out, "winget", "manifests", PACKAGE_ID[0].lower(), *PACKAGE_ID.split("."), version)
    write_yaml(os.path.join(folder, f"{PACKAGE_ID}.yaml"), "version", {
        **ident,
        "DefaultLocale": "en-US",
        "ManifestType": "version",
        "ManifestVersion": MANIFEST_VERSION,
    })

    installer = {
        **ident,
        "InstallerType": "nullsoft",
        "Scope": "machine",
        "InstallModes": ["interactive", "silent", "silentWithProgress"],
        # /D= must come last on the setup's command line, and winget puts
        # the location switch last.
        "InstallerSwitches": {
            "Silent": "/S",
            "SilentWithProgress": "/S",
            "InstallLocation": "/D=<INSTALLPATH>",
        },
        "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response}
                                for code, response in RETURN_CODES],
        "UpgradeBehavior": "install",
        # The setup's own manifest asks Windows for administrator rights.
        "ElevationRequirement": "elevatesSelf",
        "ProductCode": PRODUCT_CODE,
        # No DisplayVersion: it is the package's version, and winget maps
        # versions only where they differ.
        "AppsAndFeaturesEntries": [{
            "DisplayName": DISPLAY_NAME,
            "Publisher": PUBLISHER,
            "ProductCode": PRODUCT_CODE,
        }],
    }
    if date:
        installer["ReleaseDate"] = date
    installer["Installers"] = [{
        "Architecture": "x64",
        "InstallerUrl": f"{release_url}/{os.path.basename(setup)}",
        "InstallerSha256": sha256(setup).upper(),
    }]
    installer["ManifestType"] = "installer"
    installer["ManifestVersion"] = MANIFEST_VERSION
    write_yaml(os.path.join(folder, f"{PACKAGE_ID}.installer.yaml"), "installer", installer)

    for locale, (short, description) in DESCRIPTIONS.items():
        default = locale == "en-US"
        manifest = {
            **ident,
            "PackageLocale": locale,
            "Publisher": PUBLISHER,
            "PublisherUrl": homepage,
            "PackageName": DISPLAY_NAME,
            "PackageUrl": homepage,
            "License": LICENSE,
            "ShortDescription": short,
            "Description": description,
        }
        if default:
            manifest["Tags"] = TAGS
            manifest["ReleaseNotes"] = notes
        kind = "defaultLocale" if default else "locale"
        manifest["ManifestType"] = kind
        manifest["ManifestVersion"] = MANIFEST_VERSION
        write_yaml(os.path.join(folder, f"{PACKAGE_ID}.locale.{locale}.yaml"), kind.lower(), manifest)

    scoop = {
        "version": version,
        "description": DESCRIPTIONS["en-US"][0],
        "homepage": homepage,
        "license": LICENSE,
        "notes": SCOOP_NOTES,
        "architecture": {
            "64bit": {
                "url": f"{release_url}/{os.path.basename(zip_file)}",
                "hash": sha256(zip_file),
            },
        },
        "bin": "quillmere.exe",
        "shortcuts": [["quillmere.exe", "Quillmere"]],
    }
    write(os.path.join(out, "scoop", "quillmere.json"), json.dumps(scoop, indent=4, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main(sys.argv)
